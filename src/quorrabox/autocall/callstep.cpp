// Parsing autocall's steps and running them through IDispatch.
#include "quorrabox/autocall/callstep.h"

#include "platform/errors.h"

#include <charconv>

namespace {

std::string TrimBlanks(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool SameTextAscii(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return i == a.size() && !b[i];
}

std::string UnquoteText(const std::string& text) {
    std::string out;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '"' && (i + 2 >= text.size() || text[++i] != '"'))
            throw EArgumentError("Unexpected quote in " + text);
        out += text[i];
    }
    return out;
}

// The whole text as a number of type T; `value` is set only on success.
template <class T> bool ParseWhole(const std::string& text, T& value) {
    std::size_t from = text[0] == '+' ? 1 : 0;
    T parsed{};
    auto [end, ec] = std::from_chars(text.data() + from, text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

// Splits the text between the parentheses at the commas that are not inside quotes.
std::vector<std::string> SplitArgs(const std::string& inner) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : inner) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (quoted) throw EArgumentError("Unterminated string in (" + inner + ")");
    return parts;
}

void ToVariant(const TCallArg& arg, VARIANT& v) {
    VariantInit(&v);
    switch (arg.kind) {
    case TCallArg::Missing:
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
        break;
    case TCallArg::Text:
        v.vt = VT_BSTR;
        v.bstrVal = StringToBstr(arg.text);
        break;
    case TCallArg::Integer:
        v.vt = VT_I4;
        v.lVal = arg.integer;
        break;
    case TCallArg::Real:
        v.vt = VT_R8;
        v.dblVal = arg.real;
        break;
    case TCallArg::Boolean:
        v.vt = VT_BOOL;
        v.boolVal = arg.boolean ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case TCallArg::Null:
        v.vt = VT_NULL;
        break;
    case TCallArg::Empty:
        break;
    }
}

WORD FlagsOf(TCallStep::Kind kind) {
    switch (kind) {
    case TCallStep::Put:
        return DISPATCH_PROPERTYPUT;
    case TCallStep::Get:
        return DISPATCH_PROPERTYGET;
    case TCallStep::Call:
        return DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    default:
        return DISPATCH_METHOD;
    }
}

// What went wrong, in the object's words where it gave some.
std::string Describe(HRESULT hr, EXCEPINFO& info, UINT argErr, std::size_t argCount) {
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        std::string source = BstrToString(info.bstrSource);
        std::string text = BstrToString(info.bstrDescription);
        return source.empty() ? text : source + ": " + text;
    }
    bool argFault = hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_OVERFLOW ||
                    hr == DISP_E_PARAMNOTFOUND;
    if (argFault && argErr < argCount) return "argument " + std::to_string(argCount - argErr);
    return {};
}

} // namespace

TCallArg ParseCallArg(const std::string& raw) {
    std::string text = TrimBlanks(raw);
    TCallArg arg;
    if (text.empty()) return arg;
    if (text[0] == '"') {
        if (text.size() < 2 || text.back() != '"') throw EArgumentError("Unterminated string " + text);
        arg.kind = TCallArg::Text;
        arg.text = UnquoteText(text);
    } else if (SameTextAscii(text, "true") || SameTextAscii(text, "false")) {
        arg.kind = TCallArg::Boolean;
        arg.boolean = SameTextAscii(text, "true");
    } else if (SameTextAscii(text, "null") || SameTextAscii(text, "empty")) {
        arg.kind = SameTextAscii(text, "null") ? TCallArg::Null : TCallArg::Empty;
    } else if (ParseWhole(text, arg.integer)) {
        arg.kind = TCallArg::Integer;
    } else if (text.find_first_not_of("+-0123456789.eE") == std::string::npos && ParseWhole(text, arg.real)) {
        arg.kind = TCallArg::Real;
    } else {
        arg.kind = TCallArg::Text;
        arg.text = text;
    }
    return arg;
}

TCallStep ParseCallStep(const std::string& word, bool noResult) {
    TCallStep step;
    step.text = noResult ? "call " + word : word;
    std::size_t pos = word.find_first_of("(=");
    step.name = TrimBlanks(word.substr(0, pos));
    if (step.name.empty()) throw EArgumentError("No member name in \"" + word + "\"");
    if (pos == std::string::npos) {
        step.kind = noResult ? TCallStep::CallNoResult : TCallStep::Get;
    } else if (word[pos] == '=') {
        if (noResult) throw EArgumentError("A put has no result to drop: \"" + word + "\"");
        step.kind = TCallStep::Put;
        step.args.push_back(ParseCallArg(word.substr(pos + 1)));
    } else {
        std::string rest = TrimBlanks(word.substr(pos + 1));
        if (rest.empty() || rest.back() != ')') throw EArgumentError("Missing \")\" in \"" + word + "\"");
        rest.pop_back();
        step.kind = noResult ? TCallStep::CallNoResult : TCallStep::Call;
        if (!TrimBlanks(rest).empty())
            for (const auto& part : SplitArgs(rest))
                step.args.push_back(ParseCallArg(part));
    }
    return step;
}

TCallOutcome RunCallStep(IDispatch* object, const TCallStep& step) {
    TCallOutcome outcome;
    std::u16string name = StringToOleStr(step.name);
    LPOLESTR names[] = {name.data()};
    DISPID dispId = DISPID_UNKNOWN;
    outcome.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispId);
    if (FAILED(outcome.hr)) {
        outcome.detail = "Unknown name " + step.name;
        return outcome;
    }
    // The parameter block holds the arguments last first.
    std::vector<VARIANT> args(step.args.size());
    for (std::size_t i = 0; i < args.size(); ++i)
        ToVariant(step.args[i], args[args.size() - 1 - i]);
    DISPID putId = DISPID_PROPERTYPUT;
    bool put = step.kind == TCallStep::Put;
    DISPPARAMS params{args.data(), put ? &putId : nullptr, static_cast<UINT>(args.size()), put ? 1u : 0u};
    bool wantResult = step.kind == TCallStep::Get || step.kind == TCallStep::Call;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argErr = 0;
    outcome.hr = object->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, FlagsOf(step.kind), &params,
                                wantResult ? &result : nullptr, &info, &argErr);
    for (VARIANT& arg : args)
        VariantClear(&arg);
    if (FAILED(outcome.hr))
        outcome.detail = Describe(outcome.hr, info, argErr, args.size());
    else if (wantResult)
        outcome.output = FormatVariant(result);
    ClearExcepInfo(&info);
    VariantClear(&result);
    return outcome;
}

std::string FormatVariant(const VARIANT& value) {
    switch (value.vt) {
    case VT_EMPTY:
        return {};
    case VT_NULL:
        return "Null";
    case VT_BOOL:
        return value.boolVal ? "True" : "False";
    case VT_ERROR:
        return "Error " + std::to_string(value.scode);
    default:
        break;
    }
    VARIANT text;
    VariantInit(&text);
    // The source is only read when it is not also the destination.
    if (FAILED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_USER_DEFAULT, 0, VT_BSTR)))
        return "(value of type " + std::to_string(value.vt) + ")";
    std::string out = BstrToString(text.bstrVal);
    VariantClear(&text);
    return out;
}
