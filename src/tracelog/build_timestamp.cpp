// The build timestamp of the log's header, from the compiler's date and time of
// this translation unit: "Www Mmm dd hh:mm:ss yyyy".
#include "tracelog/tracelog.h"

#include <array>

namespace {

constexpr int Digit(char c) { return c == ' ' ? 0 : c - '0'; }

constexpr std::array<char, 25> MakeTimestamp(const char* date, const char* time) {
  // date is "Mmm dd yyyy" (day padded with a space), time is "hh:mm:ss".
  constexpr const char* kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  constexpr const char* kDays = "SunMonTueWedThuFriSat";
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (kMonths[m * 3] == date[0] && kMonths[m * 3 + 1] == date[1] && kMonths[m * 3 + 2] == date[2])
      month = m + 1;
  }
  const int day = Digit(date[4]) * 10 + Digit(date[5]);
  const int year = Digit(date[7]) * 1000 + Digit(date[8]) * 100 + Digit(date[9]) * 10 + Digit(date[10]);
  // Sakamoto's day of the week.
  constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  const int weekday = (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7;

  std::array<char, 25> out{};
  int i = 0;
  for (int k = 0; k < 3; ++k) out[i++] = kDays[weekday * 3 + k];
  out[i++] = ' ';
  for (int k = 0; k < 6; ++k) out[i++] = date[k];  // "Mmm dd"
  out[i++] = ' ';
  for (int k = 0; k < 8; ++k) out[i++] = time[k];
  out[i++] = ' ';
  for (int k = 7; k < 11; ++k) out[i++] = date[k];
  out[i] = 0;
  return out;
}

constexpr auto kTimestamp = MakeTimestamp(__DATE__, __TIME__);
static_assert(MakeTimestamp("Jun 17 2008", "11:34:33")[0] == 'T');  // a Tuesday

}  // namespace

const char* const kBuildTimestamp = kTimestamp.data();
