// SPDX-License-Identifier: Apache-2.0
#include "plugins/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>
#include <string>

namespace kavi::win {
namespace {

// The first item's text, or nothing when the query gives no page.
std::optional<std::string> Result(std::string_view query) {
  PluginPage page = CalculatorPage(query);
  if (page.items.empty()) return std::nullopt;
  return page.items[0].text;
}

TEST(Calculator, PrecedenceAndAssociativity) {
  EXPECT_EQ(Result("1+2*3"), "7");
  EXPECT_EQ(Result("(1+2)*3"), "9");
  EXPECT_EQ(Result("10-4-3"), "3");
  EXPECT_EQ(Result("2^3^2"), "512");
  EXPECT_EQ(Result("-2^2"), "4");  // the sign binds tighter than "^"
  EXPECT_EQ(Result("2^-1"), "0.5");
  EXPECT_EQ(Result("8/2/2"), "2");
  EXPECT_EQ(Result("(7)%3"), "1");
  EXPECT_EQ(Result("-(7)%3"), "-1");
  EXPECT_EQ(Result("2 * ( 3 + 4 ) "), "14");
}

TEST(Calculator, RewritesOfParenthesesFactorialAndPercent) {
  EXPECT_EQ(Result("(1+2"), "3");
  EXPECT_EQ(Result("1+2)*3"), "9");  // a "(" is prepended
  EXPECT_EQ(Result("5!+1"), "121");
  EXPECT_EQ(Result("50%*2"), "1");
  EXPECT_EQ(Result("12.5%+1"), "1.125");
  EXPECT_EQ(Result("7%3"), std::nullopt);  // 7 percent followed by 3
  EXPECT_EQ(Result("5!"), std::nullopt);   // no operator: not a calculation
  EXPECT_EQ(Result("171!+0"), std::nullopt);
}

TEST(Calculator, WhatIsACalculation) {
  EXPECT_EQ(Result("5"), std::nullopt);
  EXPECT_EQ(Result("+1"), std::nullopt);
  EXPECT_EQ(Result("-12"), std::nullopt);
  EXPECT_EQ(Result("-1-1"), "-2");
  EXPECT_EQ(Result("(5"), "5");
}

TEST(Calculator, ItemsAndTheEqualsSign) {
  PluginPage page = CalculatorPage("1+2");
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(page.items[0].text, "3");
  EXPECT_EQ(page.items[0].comment, "1+2");
  EXPECT_EQ(page.items[1].text, "1+2=3");
  EXPECT_TRUE(page.digits_as_input);

  page = CalculatorPage("1+2=");
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(page.items[0].comment, "1+2");
  EXPECT_EQ(page.items[1].text, "1+2=3");
  EXPECT_FALSE(page.digits_as_input);

  page = CalculatorPage("(3)");
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(page.items[0].comment, "(3)");
}

TEST(Calculator, Formatting) {
  EXPECT_EQ(Result("0.1+0.2"), "0.3");
  EXPECT_EQ(Result("2/3"), "0.6666666667");
  EXPECT_EQ(Result("10^14*9"), "900000000000000");
  EXPECT_EQ(Result("10^15*1"), "1e+15");
  EXPECT_EQ(Result("-10/4"), "-2.5");
  EXPECT_EQ(Result("0-0*1"), "0");
  EXPECT_EQ(FormatCalculatorResult(-0.0), "0");
  EXPECT_EQ(FormatCalculatorResult(1.0 / 3e10), "3.333333333e-11");
}

TEST(Calculator, Failures) {
  EXPECT_EQ(Result("1/0"), std::nullopt);
  EXPECT_EQ(Result("(1)%0"), std::nullopt);
  EXPECT_EQ(Result("1+"), std::nullopt);
  EXPECT_EQ(Result("1+2 3"), std::nullopt);
  EXPECT_EQ(Result("1..2+1"), std::nullopt);
  EXPECT_EQ(Result("(.)+1"), std::nullopt);
  EXPECT_EQ(Result("10^400*1"), std::nullopt);  // not finite
  EXPECT_EQ(Result("1+foo(2)"), std::nullopt);
  EXPECT_EQ(Result("1+pi(2)"), std::nullopt);
  EXPECT_EQ(Result("1+x"), std::nullopt);
}

TEST(Calculator, NumbersConstantsAndSpaces) {
  double v;
  ASSERT_TRUE(EvaluateExpression(".5+5.", &v));
  EXPECT_EQ(v, 5.5);
  ASSERT_TRUE(EvaluateExpression(" pi ", &v));
  EXPECT_DOUBLE_EQ(v, M_PI);
  ASSERT_TRUE(EvaluateExpression("PI*e", &v));
  EXPECT_DOUBLE_EQ(v, M_PI * M_E);
  EXPECT_FALSE(EvaluateExpression("Pi", &v));
  EXPECT_FALSE(EvaluateExpression("E", &v));
  EXPECT_FALSE(EvaluateExpression("", &v));
  EXPECT_FALSE(EvaluateExpression(std::string(100000, '('), &v));
  EXPECT_FALSE(EvaluateExpression(std::string(100000, '-') + "1", &v));
}

TEST(Calculator, Functions) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"sin(pi/2)", 1},       {"cos(0)", 1},         {"tan(0)", 0},
      {"asin(1)", M_PI / 2},  {"acos(1)", 0},        {"atan(1)", M_PI / 4},
      {"sinh(0)", 0},         {"cosh(0)", 1},        {"tanh(0)", 0},
      {"sqrt(16)", 4},        {"exp(0)", 1},         {"ln(e)", 1},
      {"log(e)", 1},          {"loge(1)", 0},        {"log10(1000)", 3},
      {"log2(8)", 3},         {"log(2,8)", 3},       {"abs(-3)", 3},
      {"floor(-1.5)", -2},    {"ceil(1.2)", 2},      {"round(2.5)", 3},
      {"round(-2.5)", -3},    {"deg(pi)", 180},      {"rad(180)", M_PI},
      {"fact(0)", 1},         {"factorial(5)", 120}, {"sum(1,2)", 3},
      {"sum()", 0},           {"avg(1,2,3,4)", 2.5}, {"average(2)", 2},
      {"var(1,2,3,4)", 1.25}, {"variance(5,5)", 0},  {"min(3,-1,2)", -1},
      {"max(3,-1,2)", 3},     {"pow(2,10)", 1024},   {"atan2(1,1)", M_PI / 4},
  };
  for (const Case& c : cases) {
    double v;
    ASSERT_TRUE(EvaluateExpression(c.text, &v)) << c.text;
    EXPECT_NEAR(v, c.value, 1e-12) << c.text;
  }
  for (const char* bad :
       {"sqrt(-1)",   "ln(0)",     "log10(-1)",  "log2(0)",   "log(1,5)", "log(2,0)",
        "log(1,2,3)", "fact(2.5)", "fact(-1)",   "fact(171)", "avg()",    "var()",
        "min()",      "pow(2)",    "atan2(1)",   "sin()",     "sin(1,2)", "exp(1000)",
        "rand(5,3)",  "rand(0)",   "rand(1,2,3)"}) {
    double v;
    EXPECT_FALSE(EvaluateExpression(bad, &v)) << bad;
  }
}

TEST(Calculator, RandomValuesStayInRange) {
  std::set<double> dice;
  for (int i = 0; i < 2000; ++i) {
    double v;
    ASSERT_TRUE(EvaluateExpression("rand(6)", &v));
    ASSERT_EQ(v, std::floor(v));
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 6);
    dice.insert(v);
    ASSERT_TRUE(EvaluateExpression("random(-2.7,2.9)", &v));  // truncated to -2..2
    ASSERT_GE(v, -2);
    ASSERT_LE(v, 2);
    ASSERT_TRUE(EvaluateExpression("rnd()", &v));
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 1);
  }
  EXPECT_EQ(dice.size(), 6u);
  double v;
  ASSERT_TRUE(EvaluateExpression("rand(4,4)", &v));
  EXPECT_EQ(v, 4);
}

}  // namespace
}  // namespace kavi::win
