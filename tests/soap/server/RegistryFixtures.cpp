#include "RegistryFixtures.h"

using namespace vv;

namespace vvtest {

const TTypeInfo *ICalc::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ICalc>("ICalc", "uCalc")
                                    .Method<&ICalc::Add>("Add", {"a", "b"})
                                    .Method<&ICalc::Put>("Put", {"key"})
                                    .Method<&ICalc::PUT2>("PUT", {"key", "value"})
                                    .Method<&ICalc::Echo>("Echo", {"text"})
                                    .Build();
  return &info;
}

const TTypeInfo *IUp::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IUp>("IUp", "uUp").Method<&IUp::Op>("Op", {"x"}).Build();
  return &info;
}

const TTypeInfo *ITmpl::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<ITmpl>("ITmpl", "uTmpl").Method<&ITmpl::Ping>("Ping", {}).Build();
  return &info;
}

TClass TCalc::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TCalc, TInvokableClass>("TCalc", "uCalc").Implements<ICalc>().Build();
  return &info;
}

TClass TCalcChild::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TCalcChild, TCalc>("TCalcChild", "uCalc").Build();
  return &info;
}

TClass TNoIntf::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TNoIntf, TInvokableClass>("TNoIntf", "uCalc").Build();
  return &info;
}

TClass TRecord::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TRecord, TRemotable>("TRecord", "uRec")
                                    .Property("Name", &TRecord::FName, &TRecord::FName)
                                    .Build();
  return &info;
}

TClass TRecordChild::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TRecordChild, TRecord>("TRecordChild", "uRec").Build();
  return &info;
}

} // namespace vvtest
