// Makes the actual call of one interface method on one object, with the
// argument and result slots of a call context.
#pragma once

#include "rtl/Object.h"

namespace vv {

struct TIntfMetaData;
class TInvContext;

class TInterfaceInvoker {
public:
  // Calls method MethNum (an index into IntfMD.MDA) of interface IntfMD on
  // Obj. The arguments are the context's parameter slots, in order; var and
  // out arguments are written straight into their slots, the result into
  // the context's result slot.
  void Invoke(TObject *Obj, const TIntfMetaData &IntfMD, int MethNum, TInvContext &Context);
};

} // namespace vv
