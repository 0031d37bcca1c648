// SPDX-License-Identifier: Apache-2.0
#include "plugins/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>
#include <string>

namespace kavi::win {
namespace {

// The first item's text for each query; nullptr where the query gives no page. The sign binds
// tighter than "^"; a missing ")" is appended and a missing "(" prepended; "7%3" is 7 percent
// followed by 3; without an operator there is no calculation; ten decimals at most, exponents
// from 10^15; no page for a failure.
TEST(Calculator, ResultsOfTypedQueries) {
  const std::pair<const char*, const char*> cases[] = {
      {"1+2*3", "7"},           {"(1+2)*3", "9"},      {"10-4-3", "3"},
      {"2^3^2", "512"},         {"-2^2", "4"},         {"2^-1", "0.5"},
      {"8/2/2", "2"},           {"(7)%3", "1"},        {"-(7)%3", "-1"},
      {"2 * ( 3 + 4 ) ", "14"}, {"(1+2", "3"},         {"1+2)*3", "9"},
      {"5!+1", "121"},          {"50%*2", "1"},        {"12.5%+1", "1.125"},
      {"7%3", nullptr},         {"5!", nullptr},       {"171!+0", nullptr},
      {"5", nullptr},           {"+1", nullptr},       {"-12", nullptr},
      {"-1-1", "-2"},           {"(5", "5"},           {"0.1+0.2", "0.3"},
      {"2/3", "0.6666666667"},  {"10^15*1", "1e+15"},  {"-10/4", "-2.5"},
      {"0-0*1", "0"},           {"1/0", nullptr},      {"(1)%0", nullptr},
      {"1+", nullptr},          {"1+2 3", nullptr},    {"1..2+1", nullptr},
      {"(.)+1", nullptr},       {"10^400*1", nullptr}, {"1+foo(2)", nullptr},
      {"1+pi(2)", nullptr},     {"1+x", nullptr},      {"10^14*9", "900000000000000"}};
  for (const auto& [query, result] : cases) {
    const PluginPage page = CalculatorPage(query);
    EXPECT_EQ(page.items.empty() ? std::nullopt : std::optional(page.items[0].text),
              result ? std::optional<std::string>(result) : std::nullopt)
        << query;
  }
  EXPECT_EQ(FormatCalculatorResult(-0.0), "0");
  EXPECT_EQ(FormatCalculatorResult(1.0 / 3e10), "3.333333333e-11");
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
  EXPECT_EQ(CalculatorPage("(3)").items.at(0).comment, "(3)");
}

TEST(Calculator, NumbersConstantsAndFunctions) {
  const std::pair<const char*, double> cases[] = {
      {".5+5.", 5.5},         {" pi ", M_PI},        {"PI*e", M_PI * M_E},
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
      {"rand(4,4)", 4},
  };
  for (const auto& [text, value] : cases) {
    double v;
    ASSERT_TRUE(EvaluateExpression(text, &v)) << text;
    EXPECT_NEAR(v, value, 1e-12) << text;
  }
  const char* failures[] = {"Pi",        "E",         "",          "sqrt(-1)",   "ln(0)",
                            "log10(-1)", "log2(0)",   "log(1,5)",  "log(2,0)",   "log(1,2,3)",
                            "fact(2.5)", "fact(-1)",  "fact(171)", "avg()",      "var()",
                            "min()",     "pow(2)",    "atan2(1)",  "sin()",      "sin(1,2)",
                            "exp(1000)", "rand(5,3)", "rand(0)",   "rand(1,2,3)"};
  double v;
  for (const char* bad : failures) EXPECT_FALSE(EvaluateExpression(bad, &v)) << bad;
  EXPECT_FALSE(EvaluateExpression(std::string(100000, '('), &v));
  EXPECT_FALSE(EvaluateExpression(std::string(100000, '-') + "1", &v));
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
}

}  // namespace
}  // namespace kavi::win
