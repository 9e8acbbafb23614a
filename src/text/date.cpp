#include "text/date.h"

#include <cstdio>
#include <vector>

namespace lapse::text {

namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr std::array<std::string_view, 12> kEnglishMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

enum class TokenKind { Number, Word, Blank, Punct };

struct Token {
  TokenKind kind;
  std::string_view text;
};

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    TokenKind kind = TokenKind::Punct;
    if (IsDateDigit(text[i])) {
      kind = TokenKind::Number;
      while (i < text.size() && IsDateDigit(text[i]))
        ++i;
    } else if (IsDateLetter(text[i])) {
      kind = TokenKind::Word;
      while (i < text.size() && IsDateLetter(text[i]))
        ++i;
    } else if (IsBlank(text[i])) {
      kind = TokenKind::Blank;
      while (i < text.size() && IsBlank(text[i]))
        ++i;
    } else {
      ++i;
    }
    tokens.push_back({kind, text.substr(start, i - start)});
  }
  return tokens;
}

int ToInt(std::string_view digits) {
  int value = 0;
  for (const char c : digits)
    value = value * 10 + (c - '0');
  return value;
}

// A year of four digits is taken as written; one of two digits falls in
// 1950..2049, so that a tag written today for the coming years stays current.
std::optional<int> ReadYear(const Token& token) {
  // The length is checked first: a longer run of digits overflows an int.
  if (token.kind != TokenKind::Number || (token.text.size() != 4 && token.text.size() != 2)) {
    return std::nullopt;
  }
  const int value = ToInt(token.text);
  if (token.text.size() == 4) {
    return value >= 1000 ? std::optional<int>(value) : std::nullopt;
  }
  return value < 50 ? 2000 + value : 1900 + value;
}

// A day or month number has one or two digits.
std::optional<int> ReadSmall(const Token& token) {
  if (token.kind != TokenKind::Number || token.text.size() > 2) {
    return std::nullopt;
  }
  return ToInt(token.text);
}

std::optional<year_month_day> MakeDate(int y, int m, int d) {
  if (m < 1 || m > 12 || d < 1 || d > 31) {
    return std::nullopt;
  }
  const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                            day{static_cast<unsigned>(d)}};
  return date.ok() ? std::optional(date) : std::nullopt;
}

std::string_view WithoutTrailingDot(std::string_view name) {
  return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
}

std::optional<int> MonthFromName(std::string_view word, const DateLocale& locale) {
  for (int m = 0; m < 12; ++m) {
    const std::string_view full = locale.monthNames[m];
    const std::string_view abbreviated = WithoutTrailingDot(locale.shortMonthNames[m]);
    if ((!full.empty() && EqualsIgnoringCase(word, full)) ||
        (!abbreviated.empty() && EqualsIgnoringCase(word, abbreviated))) {
      return m + 1;
    }
  }
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoringCase(word, kEnglishMonths[m]) ||
        EqualsIgnoringCase(word, kEnglishMonths[m].substr(0, 3))) {
      return m + 1;
    }
  }
  return std::nullopt;
}

struct NumericDate {
  year_month_day date;
  bool otherOrder = false;
};

// 12/31/26, 31.12.2026, 2026-12-31: three numbers and the same separator twice.
std::optional<NumericDate> ReadNumericDate(const std::vector<Token>& t, DateOrder order,
                                           bool orderGiven) {
  if (t.size() != 5 || t[1].kind != TokenKind::Punct || t[3].kind != TokenKind::Punct ||
      t[1].text != t[3].text || t[1].text.find_first_of("/-.") != 0) {
    return std::nullopt;
  }
  if (t[0].kind == TokenKind::Number && t[0].text.size() == 4) {
    order = DateOrder::YearMonthDay;
  }
  const Token* y = &t[4];
  const Token* m = &t[0];
  const Token* d = &t[2];
  if (order == DateOrder::DayMonthYear) {
    std::swap(m, d);
  } else if (order == DateOrder::YearMonthDay) {
    y = &t[0];
    m = &t[2];
    d = &t[4];
  }
  const auto yv = ReadYear(*y);
  const auto mv = ReadSmall(*m);
  const auto dv = ReadSmall(*d);
  if (!yv || !mv || !dv) {
    return std::nullopt;
  }
  if (auto date = MakeDate(*yv, *mv, *dv)) {
    return NumericDate{*date};
  }
  // 31/12/26 in a month-first locale: only the other reading makes sense,
  // unless the user named the order.
  if (orderGiven) {
    return std::nullopt;
  }
  if (auto date = MakeDate(*yv, *dv, *mv)) {
    return NumericDate{*date, true};
  }
  return std::nullopt;
}

// Separators between the parts of a date with a month name: blanks, a comma,
// or one of - / . with blanks around it.
bool IsNameDateSeparator(const std::vector<Token>& t, std::size_t from, std::size_t to) {
  if (from == to) {
    return false;
  }
  int marks = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (t[i].kind == TokenKind::Punct) {
      if (t[i].text.find_first_of(",-/.") != 0 || ++marks > 1) {
        return false;
      }
    } else if (t[i].kind != TokenKind::Blank) {
      return false;
    }
  }
  return true;
}

// 31 Dec 2026, 31-Dec-26, Dec 31 2026, Dec 31, 2026, Dec. 31, 2026.
std::optional<year_month_day> ReadNamedDate(const std::vector<Token>& t, const DateLocale& locale) {
  std::vector<std::size_t> parts;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].kind == TokenKind::Number || t[i].kind == TokenKind::Word) {
      parts.push_back(i);
    }
  }
  if (parts.size() != 3 || parts.front() != 0 || parts.back() != t.size() - 1) {
    return std::nullopt;
  }
  for (std::size_t p = 0; p + 1 < parts.size(); ++p) {
    if (!IsNameDateSeparator(t, parts[p] + 1, parts[p + 1])) {
      return std::nullopt;
    }
  }
  const Token& first = t[parts[0]];
  const Token& second = t[parts[1]];
  const Token& last = t[parts[2]];
  const Token* dayToken = nullptr;
  const Token* monthToken = nullptr;
  if (first.kind == TokenKind::Number && second.kind == TokenKind::Word) {
    dayToken = &first;
    monthToken = &second;
  } else if (first.kind == TokenKind::Word && second.kind == TokenKind::Number) {
    dayToken = &second;
    monthToken = &first;
  } else {
    return std::nullopt;
  }
  const auto m = MonthFromName(monthToken->text, locale);
  const auto d = ReadSmall(*dayToken);
  const auto y = ReadYear(last);
  if (!m || !d || !y) {
    return std::nullopt;
  }
  return MakeDate(*y, *m, *d);
}

std::optional<std::chrono::seconds> ReadTime(const std::vector<Token>& t) {
  if (t.size() < 3 || t[0].kind != TokenKind::Number || t[0].text.size() > 2 || t[1].text != ":" ||
      t[2].kind != TokenKind::Number || t[2].text.size() != 2) {
    return std::nullopt;
  }
  const int hour = ToInt(t[0].text);
  const int minute = ToInt(t[2].text);
  int second = 0;
  std::size_t next = 3;
  if (next + 1 < t.size() && t[next].text == ":") {
    if (t[next + 1].kind != TokenKind::Number || t[next + 1].text.size() != 2) {
      return std::nullopt;
    }
    second = ToInt(t[next + 1].text);
    next += 2;
  }
  if (next < t.size() && t[next].kind == TokenKind::Blank) {
    ++next;
  }
  int hour24 = hour;
  if (next < t.size()) {
    const bool am = EqualsIgnoringCase(t[next].text, "AM");
    const bool pm = EqualsIgnoringCase(t[next].text, "PM");
    if ((!am && !pm) || next + 1 != t.size() || hour > 12) {
      return std::nullopt;
    }
    hour24 = hour % 12 + (pm ? 12 : 0);
  }
  if (hour24 > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return std::chrono::hours{hour24} + std::chrono::minutes{minute} + std::chrono::seconds{second};
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

DateLocale EnglishDateLocale() {
  DateLocale locale;
  for (std::size_t m = 0; m < 12; ++m) {
    locale.monthNames[m] = std::string(kEnglishMonths[m]);
    locale.shortMonthNames[m] = std::string(kEnglishMonths[m].substr(0, 3));
  }
  return locale;
}

std::string_view DateOrderName(DateOrder order) {
  switch (order) {
    case DateOrder::MonthDayYear:
      return "mdy";
    case DateOrder::DayMonthYear:
      return "dmy";
    case DateOrder::YearMonthDay:
      return "ymd";
  }
  return "mdy";
}

std::optional<DateOrder> DateOrderNamed(std::string_view name) {
  for (const DateOrder order :
       {DateOrder::MonthDayYear, DateOrder::DayMonthYear, DateOrder::YearMonthDay}) {
    if (DateOrderName(order) == name) {
      return order;
    }
  }
  return std::nullopt;
}

DateOrder DateOrderFromFormat(std::string_view format) {
  // POSIX formats name their fields with conversions (%d, %e, %m, %b, %y, %Y,
  // %D, %F); Windows formats with runs of letters (d, M, y).
  std::string fields;
  if (format.find('%') != std::string_view::npos) {
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
      if (format[i] != '%') {
        continue;
      }
      char c = format[++i];
      if (c == 'E' || c == 'O') {
        if (i + 1 >= format.size())
          break;
        c = format[++i];
      }
      switch (c) {
        case 'd':
        case 'e':
          fields += 'd';
          break;
        case 'm':
        case 'b':
        case 'B':
        case 'h':
          fields += 'm';
          break;
        case 'y':
        case 'Y':
        case 'C':
        case 'G':
          fields += 'y';
          break;
        case 'D':
          fields += "mdy";
          break;
        case 'F':
          fields += "ymd";
          break;
        default:
          break;
      }
    }
  } else {
    for (const char c : format) {
      if (c == 'd' || c == 'M' || c == 'y')
        fields += static_cast<char>(LowerAscii(c));
    }
  }
  const std::size_t dayAt = fields.find('d');
  const std::size_t monthAt = fields.find('m');
  const std::size_t yearAt = fields.find('y');
  if (dayAt == std::string::npos || monthAt == std::string::npos) {
    return DateOrder::MonthDayYear;
  }
  if (yearAt < monthAt && yearAt < dayAt) {
    return DateOrder::YearMonthDay;
  }
  return dayAt < monthAt ? DateOrder::DayMonthYear : DateOrder::MonthDayYear;
}

std::optional<TagDate> ParseDate(std::string_view text, const DateLocale& locale) {
  if (const std::optional<DateReading> reading = ReadDate(text, locale)) {
    return reading->date;
  }
  return std::nullopt;
}

std::optional<DateReading> ReadDate(std::string_view text, const DateLocale& locale) {
  const std::vector<Token> tokens = Tokenize(TrimBlanks(text));
  std::size_t dateEnd = tokens.size();
  std::optional<std::chrono::seconds> timeOfDay = std::chrono::seconds{0};
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].text == ":") {
      // The time of day starts at the number before the first colon, after a blank.
      if (i < 3 || tokens[i - 2].kind != TokenKind::Blank) {
        return std::nullopt;
      }
      dateEnd = i - 2;
      timeOfDay = ReadTime({tokens.begin() + static_cast<std::ptrdiff_t>(i - 1), tokens.end()});
      break;
    }
  }
  if (!timeOfDay) {
    return std::nullopt;
  }
  const std::vector<Token> dateTokens(tokens.begin(),
                                      tokens.begin() + static_cast<std::ptrdiff_t>(dateEnd));
  std::optional<NumericDate> date = ReadNumericDate(dateTokens, locale.order, locale.orderGiven);
  if (!date) {
    if (const std::optional<year_month_day> named = ReadNamedDate(dateTokens, locale)) {
      date = NumericDate{*named};
    }
  }
  if (!date) {
    return std::nullopt;
  }
  return DateReading{TagDate{std::chrono::local_days{date->date}} + *timeOfDay, date->otherOrder};
}

std::string FormatDay(Today value) {
  const std::chrono::year_month_day date{value};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::string FormatTagDate(TagDate date) {
  const auto day = std::chrono::floor<std::chrono::days>(date);
  const auto timeOfDay = std::chrono::duration_cast<std::chrono::minutes>(date - day);
  std::string text = FormatDay(day);
  if (timeOfDay.count() != 0) {
    char clock[8];
    std::snprintf(clock, sizeof clock, " %02d:%02d", static_cast<int>(timeOfDay.count() / 60),
                  static_cast<int>(timeOfDay.count() % 60));
    text += clock;
  }
  return text;
}

}  // namespace lapse::text
