// SPDX-License-Identifier: Apache-2.0
// The backtick calculator: "1+2", "sqrt(2)*3", "5!+1", "50%*2", "rand(6)".
#pragma once

#include <string>
#include <string_view>

#include "plugins/plugin_types.h"

namespace kavi::win {

// Parses and evaluates an expression in double precision (after the query rewrites). Fails on
// a syntax error, text left over, a bad function call or a result that is not finite.
bool EvaluateExpression(std::string_view text, double* value);

// Integral values below 1e15 as integers, others with 10 significant digits ("%.10g").
std::string FormatCalculatorResult(double value);

// `query` starts with a digit, "(", "-" or "+"; an empty page when it is not a calculation or
// does not evaluate.
PluginPage CalculatorPage(std::string_view query);

}  // namespace kavi::win
