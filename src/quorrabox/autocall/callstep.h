// The steps autocall runs on an object: puts, gets and calls by name written as one word each,
// in a syntax close to the scripts that use such objects.
#pragma once

#include "quorrabox/com/comvariant.h"

#include <string>
#include <vector>

/// One argument literal: "text" (with "" for a quote), a whole number, a decimal number, True,
/// False, Null, Empty, nothing (a missing argument), or any other bare text (taken as text).
struct TCallArg {
    enum Kind { Missing, Text, Integer, Real, Boolean, Null, Empty } kind = Missing;
    std::string text;
    LONG integer = 0;
    double real = 0;
    bool boolean = false;

    bool operator==(const TCallArg&) const = default;
};

/// Put: `Name=value`. Get: `Name`. Call: `Name(arg, ...)`, whose result is printed.
/// CallNoResult: the word `call` followed by `Name` or `Name(arg, ...)`, for members without a result.
struct TCallStep {
    enum Kind { Put, Get, Call, CallNoResult } kind = Get;
    std::string name;
    std::vector<TCallArg> args;
    std::string text; // the step as written, for messages
};

/// Throws EArgumentError with a readable message when the literal is malformed.
TCallArg ParseCallArg(const std::string& text);
/// `noResult` is set when the word followed `call`. Throws EArgumentError for a malformed step.
TCallStep ParseCallStep(const std::string& word, bool noResult);

/// Outcome of running one step: the result's text, or the failing code with what the object said.
struct TCallOutcome {
    HRESULT hr = S_OK;
    std::string output;
    std::string detail;
};

/// Looks the name up with GetIDsOfNames and runs the step through Invoke.
TCallOutcome RunCallStep(IDispatch* object, const TCallStep& step);
/// A result as autocall prints it: text as is, numbers in decimal, Booleans True/False.
std::string FormatVariant(const VARIANT& value);
