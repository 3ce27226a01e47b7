// autocall's commands: register, unregister, and create an object by ProgID to run steps on it.
#include "quorrabox/autocall/autocall.h"

#include "platform/errors.h"
#include "quorrabox/autocall/callstep.h"
#include "quorrabox/autocall/inprocserver.h"

#include <ostream>

namespace {

const char* const Usage = "usage: autocall register LIBRARY\n"
                          "       autocall unregister LIBRARY\n"
                          "       autocall create PROGID [STEP...]\n"
                          "steps: Name=value (put), Name (get), Name(arg,...) (call, result printed),\n"
                          "       call Name(arg,...) (call without a result)\n";

int Failure(std::ostream& err, const std::string& what, HRESULT hr, const std::string& detail) {
    err << "autocall: " << what << ": " << HResultToString(hr);
    if (!detail.empty()) err << ": " << detail;
    err << "\n";
    return AutocallFailed;
}

int Register(const std::string& library, bool install, std::ostream& out, std::ostream& err) {
    TInprocServer server;
    std::string detail;
    if (HRESULT hr = server.Load(library, detail); FAILED(hr)) return Failure(err, library, hr, detail);
    const char* entry = install ? "DllRegisterServer" : "DllUnregisterServer";
    HRESULT hr = install ? server.RegisterServer() : server.UnregisterServer();
    if (FAILED(hr)) return Failure(err, std::string(entry) + " in " + library, hr, {});
    out << entry << " in " << library << " succeeded.\n";
    return AutocallOk;
}

std::vector<TCallStep> ParseSteps(const std::vector<std::string>& words) {
    std::vector<TCallStep> steps;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].rfind("call ", 0) == 0) { // "call Name(...)" written as one word
            steps.push_back(ParseCallStep(words[i].substr(5), true));
            continue;
        }
        bool noResult = words[i] == "call";
        if (noResult && ++i == words.size()) throw EArgumentError("\"call\" needs a member after it");
        steps.push_back(ParseCallStep(words[i], noResult));
    }
    return steps;
}

int RunSteps(IDispatch* object, const std::vector<TCallStep>& steps, std::ostream& out, std::ostream& err) {
    for (const TCallStep& step : steps) {
        TCallOutcome outcome = RunCallStep(object, step);
        if (FAILED(outcome.hr)) return Failure(err, step.text, outcome.hr, outcome.detail);
        if (step.kind == TCallStep::Get || step.kind == TCallStep::Call) out << outcome.output << "\n";
    }
    return AutocallOk;
}

int Create(const std::string& progId, const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    std::vector<TCallStep> steps;
    try {
        steps = ParseSteps(words);
    } catch (const EArgumentError& e) {
        err << "autocall: " << e.Message() << "\n" << Usage;
        return AutocallUsage;
    }
    TInprocServer server;
    IDispatch* object = nullptr;
    std::string detail;
    if (HRESULT hr = CreateObjectByProgID(progId, server, &object, detail); FAILED(hr))
        return Failure(err, progId, hr, detail);
    int code = RunSteps(object, steps, out, err);
    object->Release();
    return code;
}

} // namespace

int RunAutocall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string command = args.empty() ? "" : args[0];
    if ((command == "register" || command == "unregister") && args.size() == 2)
        return Register(args[1], command == "register", out, err);
    if (command == "create" && args.size() >= 2)
        return Create(args[1], std::vector<std::string>(args.begin() + 2, args.end()), out, err);
    err << Usage;
    return AutocallUsage;
}
