#include "soap/server/SOAPScalar.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"

namespace vv {

namespace {

bool IsText(TTypeKind k) {
  return k == TTypeKind::tkUString || k == TTypeKind::tkLString || k == TTypeKind::tkWString ||
         k == TTypeKind::tkString;
}

[[noreturn]] void Invalid(const TTypeInfo *info, std::string_view text) {
  throw EConvertError("'%s' is not a valid %s value", {std::string(text), info->Name});
}

// Ordinals are stored in the slot width their OrdType names.
int64_t LoadOrd(const TTypeInfo *info, const void *p) {
  switch (info->OrdType) {
  case TOrdType::otSByte:
    return *static_cast<const int8_t *>(p);
  case TOrdType::otUByte:
    return *static_cast<const uint8_t *>(p);
  case TOrdType::otSWord:
    return *static_cast<const int16_t *>(p);
  case TOrdType::otUWord:
    return *static_cast<const uint16_t *>(p);
  case TOrdType::otSLong:
    return *static_cast<const int32_t *>(p);
  case TOrdType::otULong:
    return *static_cast<const uint32_t *>(p);
  case TOrdType::otSInt64:
    return *static_cast<const int64_t *>(p);
  case TOrdType::otUInt64:
    return int64_t(*static_cast<const uint64_t *>(p));
  }
  return 0;
}

template <class T> bool StoreChecked(int64_t v, void *p) {
  if (v < int64_t(std::numeric_limits<T>::min()) || v > int64_t(std::numeric_limits<T>::max()))
    return false;
  *static_cast<T *>(p) = T(v);
  return true;
}

bool StoreOrd(const TTypeInfo *info, int64_t v, void *p) {
  switch (info->OrdType) {
  case TOrdType::otSByte:
    return StoreChecked<int8_t>(v, p);
  case TOrdType::otUByte:
    return StoreChecked<uint8_t>(v, p);
  case TOrdType::otSWord:
    return StoreChecked<int16_t>(v, p);
  case TOrdType::otUWord:
    return StoreChecked<uint16_t>(v, p);
  case TOrdType::otSLong:
    return StoreChecked<int32_t>(v, p);
  case TOrdType::otULong:
    return StoreChecked<uint32_t>(v, p);
  case TOrdType::otSInt64:
    *static_cast<int64_t *>(p) = v;
    return true;
  case TOrdType::otUInt64:
    if (v < 0) return false;
    *static_cast<uint64_t *>(p) = uint64_t(v);
    return true;
  }
  return false;
}

std::string IntegerText(const TTypeInfo *info, const void *p) {
  if (info->OrdType == TOrdType::otUInt64) return std::to_string(*static_cast<const uint64_t *>(p));
  return IntToStr(LoadOrd(info, p));
}

void ReadInteger(const TTypeInfo *info, std::string_view text, void *p) {
  std::string t = Trim(text);
  const char *b = t.data(), *e = t.data() + t.size();
  if (!t.empty() && *b == '+') ++b;
  if (info->OrdType == TOrdType::otUInt64) {
    uint64_t u = 0;
    auto [end, ec] = std::from_chars(b, e, u);
    if (ec != std::errc() || end != e || b == e) Invalid(info, text);
    *static_cast<uint64_t *>(p) = u;
    return;
  }
  int64_t v = 0;
  auto [end, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || end != e || b == e || !StoreOrd(info, v, p)) Invalid(info, text);
}

std::string FloatText(const TTypeInfo *info, const void *p) {
  double v = info->FloatType == TFloatType::ftSingle ? double(*static_cast<const float *>(p))
                                                     : *static_cast<const double *>(p);
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[64];
  std::to_chars_result r =
      info->FloatType == TFloatType::ftSingle
          ? std::to_chars(buf, buf + sizeof buf, *static_cast<const float *>(p))
          : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

void ReadFloat(const TTypeInfo *info, std::string_view text, void *p) {
  std::string t = Trim(text);
  double v = 0;
  if (t == "INF" || t == "+INF")
    v = std::numeric_limits<double>::infinity();
  else if (t == "-INF")
    v = -std::numeric_limits<double>::infinity();
  else if (t == "NaN")
    v = std::numeric_limits<double>::quiet_NaN();
  else {
    const char *b = t.data(), *e = t.data() + t.size();
    if (!t.empty() && *b == '+') ++b;
    auto [end, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || end != e || b == e) Invalid(info, text);
  }
  if (info->FloatType == TFloatType::ftSingle)
    *static_cast<float *>(p) = float(v);
  else
    *static_cast<double *>(p) = v;
}

bool IsBoolean(const TTypeInfo *info) {
  return info->Kind == TTypeKind::tkEnumeration && info == TypeInfoOf<bool>();
}

void ReadEnum(const TTypeInfo *info, std::string_view text, void *p) {
  std::string t = Trim(text);
  if (IsBoolean(info)) {
    if (t == "1" || SameText(t, "true"))
      *static_cast<bool *>(p) = true;
    else if (t == "0" || SameText(t, "false"))
      *static_cast<bool *>(p) = false;
    else
      Invalid(info, text);
    return;
  }
  for (size_t i = 0; i < info->EnumNames.size(); ++i)
    if (info->EnumNames[i] == t && StoreOrd(info, int64_t(i), p)) return;
  Invalid(info, text);
}

std::string EnumText(const TTypeInfo *info, const void *p) {
  if (IsBoolean(info)) return *static_cast<const bool *>(p) ? "true" : "false";
  int64_t ord = LoadOrd(info, p);
  if (ord >= 0 && size_t(ord) < info->EnumNames.size()) return info->EnumNames[size_t(ord)];
  return IntToStr(ord);
}

} // namespace

bool IsSOAPScalar(const TTypeInfo *info) {
  switch (info->Kind) {
  case TTypeKind::tkInteger:
  case TTypeKind::tkInt64:
  case TTypeKind::tkFloat:
  case TTypeKind::tkEnumeration:
    return true;
  default:
    return IsText(info->Kind);
  }
}

std::string ScalarToText(const TTypeInfo *info, const void *slot) {
  if (IsText(info->Kind)) return *static_cast<const std::string *>(slot);
  switch (info->Kind) {
  case TTypeKind::tkInteger:
  case TTypeKind::tkInt64:
    return IntegerText(info, slot);
  case TTypeKind::tkFloat:
    return FloatText(info, slot);
  case TTypeKind::tkEnumeration:
    return EnumText(info, slot);
  default:
    return {};
  }
}

void TextToScalar(const TTypeInfo *info, std::string_view text, void *slot) {
  if (IsText(info->Kind)) {
    *static_cast<std::string *>(slot) = std::string(text);
    return;
  }
  switch (info->Kind) {
  case TTypeKind::tkInteger:
  case TTypeKind::tkInt64:
    ReadInteger(info, text, slot);
    return;
  case TTypeKind::tkFloat:
    ReadFloat(info, text, slot);
    return;
  case TTypeKind::tkEnumeration:
    ReadEnum(info, text, slot);
    return;
  default:
    return;
  }
}

} // namespace vv
