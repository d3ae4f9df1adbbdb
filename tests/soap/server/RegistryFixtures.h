// Small interfaces and classes that exercise the registries without any
// contract of the program.
#pragma once

#include <string>

#include "rtl/Interface.h"
#include "rtl/TypeInfo.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/Remotable.h"

namespace vvtest {

struct ICalc : vv::IInvokable {
  VV_INTERFACE(ICalc, "{6F1D2C3B-0A4E-4F5D-9C8B-7A6E5D4C3B21}")
  virtual int32_t Add(int32_t a, int32_t b) = 0;
  virtual std::string Put(const std::string &key) = 0;
  virtual std::string PUT2(const std::string &key, const std::string &value) = 0; // "put" twice
  virtual std::string Echo(const std::string &text) = 0;
};

struct IUp : vv::IInvokable {
  VV_INTERFACE(IUp, "{6F1D2C3B-0A4E-4F5D-9C8B-7A6E5D4C3B22}")
  virtual std::string Op(const std::string &x) = 0;
};

struct ITmpl : vv::IInvokable {
  VV_INTERFACE(ITmpl, "{6F1D2C3B-0A4E-4F5D-9C8B-7A6E5D4C3B23}")
  virtual void Ping() = 0;
};

class TCalc : public vv::TInvokableClass, public ICalc {
  VV_CLASS(TCalc)
  int32_t Add(int32_t a, int32_t b) override { return a + b; }
  std::string Put(const std::string &key) override { return key; }
  std::string PUT2(const std::string &key, const std::string &value) override {
    return key + value;
  }
  std::string Echo(const std::string &text) override { return text; }
};

// Inherits its interface from TCalc.
class TCalcChild : public TCalc {
  VV_CLASS(TCalcChild)
};

// An invokable class that declares no interface.
class TNoIntf : public vv::TInvokableClass {
  VV_CLASS(TNoIntf)
};

class TRecord : public vv::TRemotable {
  VV_CLASS(TRecord)
  std::string FName;
};

class TRecordChild : public TRecord {
  VV_CLASS(TRecordChild)
};

} // namespace vvtest
