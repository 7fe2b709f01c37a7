// Fuzzes the log's formatter with formats built from %s, %d, %c, %I64u, %% and
// plain characters, any arguments and any cut. Beyond not crashing: the text is
// that of a reference rendering, cut after the limit.
#include "platform/afx/checked_format.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::u16string Digits(unsigned long long v, bool negative) {
  std::string d = std::to_string(v);
  if (negative) d = "-" + d;
  return std::u16string(d.begin(), d.end());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t limit = in.ConsumeIntegralInRange<std::size_t>(0, 2048);
  std::u16string format, expected;
  std::vector<FormatArg> args;
  std::vector<std::u16string> texts;
  texts.reserve(64);
  while (in.remaining_bytes() > 0 && args.size() < 64) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: {
        const char16_t c = in.ConsumeIntegral<char16_t>();
        if (c == 0 || c == u'%') break;
        format.push_back(c);
        expected.push_back(c);
        break;
      }
      case 1: {
        const std::string raw = in.ConsumeRandomLengthString(600);
        texts.push_back(std::u16string(raw.begin(), raw.end()).substr(0, std::u16string(raw.begin(), raw.end()).find(u'\0')));
        format += u"%s";
        expected += texts.back();
        args.push_back({FormatArgKind::Text, texts.back().c_str(), 0});
        break;
      }
      case 2: {
        const int v = in.ConsumeIntegral<int>();
        format += u"%d";
        const long long wide = v;
        expected += Digits(static_cast<unsigned long long>(wide < 0 ? -wide : wide), v < 0);
        args.push_back(FormatArgTraits<int>::Make(v));
        break;
      }
      case 3: {
        const char16_t c = in.ConsumeIntegral<char16_t>();
        format += u"%c";
        expected.push_back(c);
        args.push_back(FormatArgTraits<char16_t>::Make(c));
        break;
      }
      case 4: {
        const unsigned long long v = in.ConsumeIntegral<unsigned long long>();
        format += u"%I64u";
        expected += Digits(v, false);
        args.push_back(FormatArgTraits<unsigned long long>::Make(v));
        break;
      }
      case 5:
        format += u"%%";
        expected += u"%";
        break;
    }
  }
  const std::u16string out = FormatArgs(format.c_str(), args.data(), args.size(), limit);
  if (out != expected.substr(0, limit)) std::abort();
  return 0;
}
