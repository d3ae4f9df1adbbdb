// The description of an invokable interface, read from its type descriptor:
// what the invoker, the converter and the client proxy work from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/TypeInfo.h"

namespace vv {

VV_EXCEPTION(EInterfaceRTTIException, Exception);

struct TIntfParamEntry {
  TParamFlags Flags = 0; // pfConst (input), pfVar, pfOut
  std::string Name;
  const TTypeInfo *Info = nullptr;
};

struct TIntfMethEntry {
  std::string Name; // empty for the three reference-counting slots
  int CC = 0;       // calling convention; no meaning on the wire
  int Pos = 0;      // slot in the method table: the first own method of an IInvokable is 3
  int ParamCount = 0;
  const TTypeInfo *ResultInfo = nullptr; // none for a procedure
  const TTypeInfo *SelfInfo = nullptr;   // the interface that declares the method
  std::vector<TIntfParamEntry> Params;
  bool HasRTTI = false;
  TMethodCall Call = nullptr; // calls the method on the object seen as SelfInfo
};

struct TIntfMetaData {
  std::string Name;
  std::string UnitName;
  std::vector<TIntfMethEntry> MDA; // slot order
  TGUID IID;
  const TTypeInfo *Info = nullptr;
  const TTypeInfo *AncInfo = nullptr; // base interface
  int NumAnc = 0;                     // inherited slots
};

// Describes interface `Info`. With IncludeAllMethods the three
// reference-counting slots (unnamed, not callable) and every inherited method
// come first, so an entry's index equals its Pos; without, only the
// interface's own methods. Raises EInterfaceRTTIException when the
// descriptor carries no method information.
void GetIntfMetaData(const TTypeInfo *Info, TIntfMetaData &MD, bool IncludeAllMethods = true);
TIntfMetaData GetIntfMetaData(const TTypeInfo *Info, bool IncludeAllMethods = true);

// Index in MD.MDA of the method called `Name` (letter case ignored); with
// ParamCount >= 0 the count must match too, falling back to a search without
// it. -1 when no method or more than one matches.
int GetMethNum(const TIntfMetaData &MD, std::string_view Name, int ParamCount = -1);

} // namespace vv
