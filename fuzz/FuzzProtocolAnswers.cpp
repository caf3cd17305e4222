// Every reader of instrument and radio-module answers on arbitrary bytes: the
// raw bytes (NULs included) and the text a device buffer would hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/AnswerParsers.h"
#include "protocol/DeviceFamilyTable.h"

namespace {

void Exercise(std::string_view text) {
  using namespace zuro;
  std::string code;
  std::int32_t version = 0;
  if (ParseIdentityText(LineUpTo(SkipCarriageReturns(text), 20), code, version)) {
    (void)FamilyByIdentityCode(code);
    (void)CapabilitiesFor(FamilyByIdentityCode(code).familyCode, version, true);
  }
  ShowFields fields;
  bool tooOld = false;
  (void)ParseShowAnswer(text, fields, tooOld);
  std::string name;
  if (ParseShowName(text, name)) {
    (void)CheckDeviceName(name);
  }
  (void)CheckDeviceName(text);

  std::string_view item = RadioItemText(text);
  std::uint32_t hex = 0;
  std::string_view cursor = item;
  (void)ScanHex(cursor, hex);
  cursor = item;
  std::string word;
  if (ScanWord(cursor, 8, word)) {
    (void)IsHexDigits(word, 4);
  }

  for (std::size_t channels : {std::size_t{1}, std::size_t{5}}) {
    (void)ParseAdcFactors(text, channels);
  }
  DeviceDateTime when;
  if (ParseDeviceDateTime(text, when)) {
    (void)IsInstrumentDate(when);
  }

  std::int32_t numbers[5] = {};
  (void)ScanInts(AfterFirstCr(text), "    ", numbers, 5);
  cursor = SkipSpace(text);
  double number = 0;
  (void)ScanDouble(cursor, number);
  cursor = text;
  std::uint64_t seconds = 0;
  (void)ScanUnsigned(cursor, seconds);
  cursor = AfterFirstCr(text);
  std::int32_t value = 0;
  (void)ScanInt(cursor, value);
  (void)ScanVersionNumber(text, version);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string copy(bytes == nullptr ? "" : std::string(bytes, size));
  Exercise(copy);
  Exercise(zuro::AnswerText(copy.data(), copy.size()));
  return 0;
}
