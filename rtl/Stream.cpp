#include "rtl/Stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "rtl/Exception.h"
#include "rtl/RtlLimits.h"

namespace vv {

int64_t TStream::Size() {
  int64_t pos = Position();
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void *buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void *buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream &source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  char buf[65536];
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, sizeof buf);
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    left -= n;
  }
  return count;
}

std::string TStream::ReadRest() {
  std::string out;
  char buf[65536];
  int64_t n;
  while ((n = Read(buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  return out;
}

std::string TStream::DataString() {
  int64_t pos = Position();
  SetPosition(0);
  std::string s = ReadRest();
  SetPosition(pos);
  return s;
}

int64_t TMemoryStream::Read(void *buffer, int64_t count) {
  if (count <= 0 || FPos >= int64_t(FData.size())) return 0;
  int64_t n = std::min<int64_t>(count, int64_t(FData.size()) - FPos);
  std::memcpy(buffer, FData.data() + FPos, size_t(n));
  FPos += n;
  return n;
}

// Room grows to powers of two, set exactly: a stream whose writer stops at
// a power of two (the HTTP client's body limit) never holds more room than
// that, where the string's own growth would double past it.
void TMemoryStream::Grow(size_t size) {
  if (size <= FData.capacity()) {
    FData.resize(size);
    return;
  }
  std::string bigger;
  bigger.reserve(std::bit_ceil(size)); // from an empty string: exactly this much
  bigger.append(FData);
  bigger.resize(size);
  FData.swap(bigger);
}

int64_t TMemoryStream::Write(const void *buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = size_t(FPos + count);
  if (end > FData.size()) Grow(end);
  std::memcpy(FData.data() + FPos, buffer, size_t(count));
  FPos += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? FPos
                                                    : int64_t(FData.size());
  FPos = std::max<int64_t>(0, base + offset);
  return FPos;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(size_t(std::max<int64_t>(0, size)));
  if (FPos > size) FPos = size;
}

// ---- TContentStream --------------------------------------------------------------

TContentStream::~TContentStream() {
  FProducer.reset(); // before what it uses
  FKeep.clear();
}

void TContentStream::Make() {
  if (!FProducer) return;
  std::unique_ptr<TProducer> producer = std::move(FProducer);
  int64_t expected = int64_t(FData.size()) + FMadeSize;
  FMadeSize = 0;
  FData.reserve(size_t(expected));
  producer->Produce([this](const char *data, size_t size) { FData.append(data, size); });
  if (int64_t(FData.size()) != expected) throw EStreamError("Produced content has the wrong size");
}

int64_t TContentStream::Read(void *buffer, int64_t count) {
  if (FProducer && count > 0 && FPos + count > int64_t(FData.size())) Make();
  return TMemoryStream::Read(buffer, count);
}

int64_t TContentStream::Write(const void *buffer, int64_t count) {
  Make();
  return TMemoryStream::Write(buffer, count);
}

int64_t TContentStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? FPos
                                                    : Size();
  FPos = std::max<int64_t>(0, base + offset);
  return FPos;
}

void TContentStream::SetSize(int64_t size) {
  if (FProducer && size <= int64_t(FData.size())) { // cut back before the made part
    FProducer.reset();
    FMadeSize = 0;
  }
  Make();
  TMemoryStream::SetSize(size);
}

void TContentStream::AppendProduced(int64_t size, std::unique_ptr<TProducer> producer) {
  Make();                     // only one part is made later: the last
  FData.resize(size_t(FPos)); // the made bytes follow what was written so far
  FProducer = std::move(producer);
  FMadeSize = size;
  FPos = Size();
}

void TContentStream::SendTo(const TWriteFn &write) {
  if (FProducer && FPos > int64_t(FData.size())) Make(); // starts inside the made part
  if (FPos < int64_t(FData.size())) {
    for (size_t at = size_t(FPos); at < FData.size(); at += kMaxSendPiece)
      write(FData.data() + at, std::min(kMaxSendPiece, FData.size() - at));
  }
  if (FProducer) {
    std::unique_ptr<TProducer> producer = std::move(FProducer);
    producer->Produce(write);
  }
  FPos = Size();
}

} // namespace vv
