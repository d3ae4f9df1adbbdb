// Byte streams: the request body, the response content and every SOAP
// message travel as streams.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vv {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
  virtual ~TStream() = default;
  // Reads at most `count` bytes; returns how many were read.
  virtual int64_t Read(void *buffer, int64_t count) = 0;
  // Writes `count` bytes; returns how many were written.
  virtual int64_t Write(const void *buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  // Raise EReadError / EWriteError when fewer bytes move than asked.
  void ReadBuffer(void *buffer, int64_t count);
  void WriteBuffer(const void *buffer, int64_t count);
  void WriteString(std::string_view s) { WriteBuffer(s.data(), int64_t(s.size())); }
  // Copies `count` bytes (all from position 0 when count is 0) from `source`.
  int64_t CopyFrom(TStream &source, int64_t count);
  // The bytes from the current position to the end.
  std::string ReadRest();
  // All bytes, position left unchanged.
  std::string DataString();
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : FData(std::move(data)) {}
  int64_t Read(void *buffer, int64_t count) override;
  int64_t Write(const void *buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(FData.size()); }
  void SetSize(int64_t size) override;
  void Clear() {
    FData.clear();
    FPos = 0;
  }
  const std::string &Data() const { return FData; }
  std::string &Data() { return FData; }

private:
  void Grow(size_t size);

  std::string FData;
  int64_t FPos = 0;
};

} // namespace vv
