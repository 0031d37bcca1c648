// SPDX-License-Identifier: Apache-2.0
#include "plugins/calculator.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr double kIntegerFormatLimit = 1e15;
constexpr int kResultPrecision = 10;
constexpr int kMaxFactorial = 170;
// Bounds the recursion of nested parentheses and signs; far beyond anything typed by hand.
constexpr int kMaxDepth = 256;

std::mt19937& RandomEngine() {
  thread_local std::mt19937 engine{std::random_device{}()};
  return engine;
}

// 53 random bits from two 32-bit draws, scaled into [0, 1).
double RandomUnit() {
  uint64_t a = RandomEngine()();
  uint64_t b = RandomEngine()();
  return static_cast<double>((a >> 11) + (b << 21)) * 0x1.0p-53;
}

// An integer in [low, high], drawn without modulo bias.
bool RandomInteger(double low_value, double high_value, double* out) {
  constexpr double kLimit = 9007199254740992.0;  // 2^53: every integer below is exact
  double low = std::trunc(low_value);
  double high = std::trunc(high_value);
  if (low > high || std::fabs(low) > kLimit || std::fabs(high) > kLimit) return false;
  uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - static_cast<int64_t>(low));
  uint64_t range = span + 1;
  uint64_t limit =
      std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % range;
  uint64_t draw;
  do {
    draw = (static_cast<uint64_t>(RandomEngine()()) << 32) | RandomEngine()();
  } while (draw >= limit);
  *out = low + static_cast<double>(draw % range);
  return true;
}

bool CallFunction(std::string_view name, const std::vector<double>& args, double* out) {
  size_t n = args.size();
  auto unary = [&](double (*f)(double)) {
    if (n != 1) return false;
    *out = f(args[0]);
    return true;
  };
  if (name == "sin") return unary(std::sin);
  if (name == "cos") return unary(std::cos);
  if (name == "tan") return unary(std::tan);
  if (name == "asin") return unary(std::asin);
  if (name == "acos") return unary(std::acos);
  if (name == "atan") return unary(std::atan);
  if (name == "sinh") return unary(std::sinh);
  if (name == "cosh") return unary(std::cosh);
  if (name == "tanh") return unary(std::tanh);
  if (name == "exp") return unary(std::exp);
  if (name == "abs") return unary(std::fabs);
  if (name == "floor") return unary(std::floor);
  if (name == "ceil") return unary(std::ceil);
  if (name == "round") return unary(std::round);
  if (name == "sqrt") return n == 1 && args[0] >= 0 && unary(std::sqrt);
  if (name == "ln" || name == "loge" || (name == "log" && n == 1)) {
    return n == 1 && args[0] > 0 && unary(std::log);
  }
  if (name == "log10") return n == 1 && args[0] > 0 && unary(std::log10);
  if (name == "log2") return n == 1 && args[0] > 0 && unary(std::log2);
  if (name == "log") {
    if (n != 2 || args[0] <= 0 || args[0] == 1 || args[1] <= 0) return false;
    *out = std::log(args[1]) / std::log(args[0]);
    return true;
  }
  if (name == "deg") {
    if (n != 1) return false;
    *out = args[0] * 180 / std::numbers::pi;
    return true;
  }
  if (name == "rad") {
    if (n != 1) return false;
    *out = std::numbers::pi * args[0] / 180;
    return true;
  }
  if (name == "fact" || name == "factorial") {
    if (n != 1 || args[0] != std::floor(args[0]) || args[0] < 0 || args[0] > kMaxFactorial) {
      return false;
    }
    double product = 1;
    for (int i = 2; i <= static_cast<int>(args[0]); ++i) product *= i;
    *out = product;
    return true;
  }
  if (name == "sum") {
    double total = 0;
    for (double a : args) total += a;
    *out = total;
    return true;
  }
  if (name == "avg" || name == "average" || name == "var" || name == "variance") {
    if (n == 0) return false;
    double mean = 0;
    for (double a : args) mean += a;
    mean /= static_cast<double>(n);
    if (name == "avg" || name == "average") {
      *out = mean;
      return true;
    }
    double squares = 0;
    for (double a : args) squares += (a - mean) * (a - mean);
    *out = squares / static_cast<double>(n);
    return true;
  }
  if (name == "min" || name == "max") {
    if (n == 0) return false;
    double best = args[0];
    for (double a : args) best = name == "min" ? std::fmin(best, a) : std::fmax(best, a);
    *out = best;
    return true;
  }
  if (name == "pow") {
    if (n != 2) return false;
    *out = std::pow(args[0], args[1]);
    return true;
  }
  if (name == "atan2") {
    if (n != 2) return false;
    *out = std::atan2(args[0], args[1]);
    return true;
  }
  if (name == "rand" || name == "rnd" || name == "random") {
    if (n == 0) {
      *out = RandomUnit();
      return true;
    }
    if (n == 1) return RandomInteger(1, args[0], out);
    if (n == 2) return RandomInteger(args[0], args[1], out);
    return false;
  }
  return false;
}

// Recursive descent over the rewritten text; every Parse* returns false on failure.
class ExpressionParser {
 public:
  explicit ExpressionParser(std::string_view text) : text_(text) {}

  bool ParseAll(double* value) {
    if (!ParseExpression(value)) return false;
    SkipSpaces();
    return pos_ == text_.size() && std::isfinite(*value);
  }

 private:
  void SkipSpaces() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  char Peek() {
    SkipSpaces();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }

  bool ParseExpression(double* value) {
    if (!ParseTerm(value)) return false;
    for (char op = Peek(); op == '+' || op == '-'; op = Peek()) {
      ++pos_;
      double right;
      if (!ParseTerm(&right)) return false;
      *value = op == '+' ? *value + right : *value - right;
    }
    return true;
  }

  bool ParseTerm(double* value) {
    if (!ParsePower(value)) return false;
    for (char op = Peek(); op == '*' || op == '/' || op == '%'; op = Peek()) {
      ++pos_;
      double right;
      if (!ParsePower(&right)) return false;
      if (op == '*') {
        *value *= right;
      } else if (right == 0) {
        return false;
      } else {
        *value = op == '/' ? *value / right : std::fmod(*value, right);
      }
    }
    return true;
  }

  bool ParsePower(double* value) {
    if (++depth_ > kMaxDepth || !ParseUnary(value)) return false;
    if (Peek() == '^') {
      ++pos_;
      double exponent;
      if (!ParsePower(&exponent)) return false;
      *value = std::pow(*value, exponent);
    }
    --depth_;
    return true;
  }

  bool ParseUnary(double* value) {
    char sign = Peek();
    if (sign != '+' && sign != '-') return ParsePrimary(value);
    ++pos_;
    if (++depth_ > kMaxDepth || !ParseUnary(value)) return false;
    --depth_;
    if (sign == '-') *value = -*value;
    return true;
  }

  bool ParsePrimary(double* value) {
    char c = Peek();
    if (c == '(') {
      ++pos_;
      if (!ParseExpression(value) || Peek() != ')') return false;
      ++pos_;
      return true;
    }
    if (IsAsciiDigit(c) || c == '.') return ParseNumber(value);
    if (IsAsciiAlpha(c)) return ParseName(value);
    return false;
  }

  bool ParseNumber(double* value) {
    size_t start = pos_;
    bool seen_dot = false;
    bool seen_digit = false;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (IsAsciiDigit(c)) {
        seen_digit = true;
      } else if (c == '.' && !seen_dot) {
        seen_dot = true;
      } else {
        break;
      }
      ++pos_;
    }
    if (!seen_digit) return false;
    // from_chars reads "5." and ".5" alike only with a leading digit, so pad both ends.
    std::string number = "0" + std::string(text_.substr(start, pos_ - start)) + "0";
    if (!seen_dot) number.pop_back();
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), *value);
    return error == std::errc() && end == number.data() + number.size();
  }

  bool ParseName(double* value) {
    size_t start = pos_;
    while (pos_ < text_.size() && (IsAsciiAlpha(text_[pos_]) || IsAsciiDigit(text_[pos_]))) {
      ++pos_;
    }
    std::string_view name = text_.substr(start, pos_ - start);
    if (Peek() != '(') {
      if (name == "pi" || name == "PI") {
        *value = std::numbers::pi;
        return true;
      }
      if (name == "e") {
        *value = std::numbers::e;
        return true;
      }
      return false;
    }
    ++pos_;
    std::vector<double> args;
    if (Peek() != ')') {
      for (;;) {
        double arg;
        if (!ParseExpression(&arg)) return false;
        args.push_back(arg);
        if (Peek() != ',') break;
        ++pos_;
      }
    }
    if (Peek() != ')') return false;
    ++pos_;
    return CallFunction(name, args, value) && std::isfinite(*value);
  }

  std::string_view text_;
  size_t pos_ = 0;
  int depth_ = 0;
};

bool IsCalculation(std::string_view query) {
  if (query.find_first_of("*/%^(") != std::string_view::npos) return true;
  return query.size() > 1 && query.find_first_of("+-", 1) != std::string_view::npos;
}

std::string BalanceParentheses(std::string_view text) {
  long open = 0;
  long close = 0;
  for (char c : text) {
    open += c == '(';
    close += c == ')';
  }
  std::string out;
  if (close > open) out.append(static_cast<size_t>(close - open), '(');
  out += text;
  if (open > close) out.append(static_cast<size_t>(open - close), ')');
  return out;
}

// "5!" -> "fact(5)".
std::string RewriteFactorials(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsAsciiDigit(text[i])) {
      out += text[i++];
      continue;
    }
    size_t end = i;
    while (end < text.size() && IsAsciiDigit(text[end])) ++end;
    std::string_view digits = text.substr(i, end - i);
    if (end < text.size() && text[end] == '!') {
      out += "fact(" + std::string(digits) + ")";
      ++end;
    } else {
      out += digits;
    }
    i = end;
  }
  return out;
}

// "50%" -> "(50/100)"; a "%" after anything else stays the remainder operator.
std::string RewritePercents(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsAsciiDigit(text[i]) && text[i] != '.') {
      out += text[i++];
      continue;
    }
    size_t end = i;
    while (end < text.size() && (IsAsciiDigit(text[end]) || text[end] == '.')) ++end;
    std::string_view number = text.substr(i, end - i);
    if (end < text.size() && text[end] == '%') {
      out += "(" + std::string(number) + "/100)";
      ++end;
    } else {
      out += number;
    }
    i = end;
  }
  return out;
}

}  // namespace

bool EvaluateExpression(std::string_view text, double* value) {
  return ExpressionParser(text).ParseAll(value);
}

std::string FormatCalculatorResult(double value) {
  if (value == std::trunc(value) && std::fabs(value) < kIntegerFormatLimit) {
    return std::to_string(static_cast<int64_t>(value));
  }
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, kResultPrecision);
  return std::string(buffer, end);
}

PluginPage CalculatorPage(std::string_view query) {
  PluginPage page;
  if (!IsCalculation(query)) return page;
  bool has_equals = query.ends_with('=');
  std::string_view typed = has_equals ? query.substr(0, query.size() - 1) : query;
  std::string text = RewritePercents(RewriteFactorials(BalanceParentheses(typed)));
  double value;
  if (!EvaluateExpression(text, &value)) return page;

  std::string result = FormatCalculatorResult(value);
  page.items.push_back(CommitItem(result, typed == result ? "" : std::string(typed)));
  page.items.push_back(CommitItem(std::string(typed) + "=" + result));
  page.digits_as_input = !has_equals;
  return page;
}

}  // namespace kavi::win
