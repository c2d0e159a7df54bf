#include "faults.h"

#include <charconv>

#include "modbusslave.h"

namespace kestsim {

namespace {
std::vector<std::string> Split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(sep, start);
        parts.push_back(s.substr(start, pos - start));
        if (pos == std::string::npos)
            return parts;
        start = pos + 1;
    }
}

bool ToInt(const std::string &s, long min, long max, int &out)
{
    if (s.empty())
        return false;
    long v = 0;
    int base = 10;
    const char *b = s.data();
    const char *e = s.data() + s.size();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        b += 2;
    }
    auto [ptr, ec] = std::from_chars(b, e, v, base);
    if (ec != std::errc() || ptr != e || v < min || v > max)
        return false;
    out = int(v);
    return true;
}
} // namespace

bool IsStateFault(FaultKind kind)
{
    return kind == FaultKind::Unplug || kind == FaultKind::Replug || kind == FaultKind::Amplifier
        || kind == FaultKind::HangUp;
}

std::optional<Fault> ParseFault(const std::string &faultText, std::string &error)
{
    Fault f;
    f.text = faultText;
    std::string rest = faultText;
    // "@REGISTER", "+AFTER" and "#COUNT" may come in any order after the kind and its arguments.
    for (size_t mark; (mark = rest.find_last_of("@#+")) != std::string::npos; rest.erase(mark)) {
        const std::string value = rest.substr(mark + 1);
        if (rest[mark] == '#') {
            if (!ToInt(value, 1, 1000000, f.remaining)) {
                error = "bad count in '" + faultText + "'";
                return std::nullopt;
            }
        } else if (rest[mark] == '+') {
            int after;
            if (!ToInt(value, 0, 1000000, after)) {
                error = "bad '+' count in '" + faultText + "'";
                return std::nullopt;
            }
            f.after = after;
        } else {
            int reg;
            if (!ToInt(value, 0, 0xFFFF, reg)) {
                error = "bad register in '" + faultText + "'";
                return std::nullopt;
            }
            f.reg = uint16_t(reg);
        }
    }
    std::vector<std::string> parts = Split(rest, ':');
    bool lineGiven = false;
    if (!parts.empty() && (parts[0] == "installation" || parts[0] == "device")) {
        f.line = parts[0] == "device" ? Line::Device : Line::Installation;
        parts.erase(parts.begin());
        lineGiven = true;
    }
    if (parts.empty() || parts[0].empty()) {
        error = "no fault kind in '" + faultText + "'";
        return std::nullopt;
    }
    const std::string kind = parts[0];
    const size_t args = parts.size() - 1;
    auto arg = [&](size_t i, long min, long max, int &out) {
        if (!ToInt(parts[i], min, max, out)) {
            error = "bad argument '" + parts[i] + "' in '" + faultText + "'";
            return false;
        }
        return true;
    };
    auto want = [&](size_t lo, size_t hi) {
        if (args < lo || args > hi) {
            error = "wrong number of arguments in '" + faultText + "'";
            return false;
        }
        return true;
    };
    if (kind == "noanswer") {
        f.kind = FaultKind::NoAnswer;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "delay") {
        f.kind = FaultKind::Delay;
        if (!want(1, 1) || !arg(1, 0, 600000, f.arg1))
            return std::nullopt;
    } else if (kind == "split") {
        f.kind = FaultKind::Split;
        if (!want(2, 2) || !arg(1, 1, 4096, f.arg1) || !arg(2, 0, 600000, f.arg2))
            return std::nullopt;
    } else if (kind == "crc") {
        f.kind = FaultKind::Crc;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "exception") {
        f.kind = FaultKind::Exception;
        if (!want(1, 1) || !arg(1, 1, 255, f.arg1))
            return std::nullopt;
    } else if (kind == "garbage") {
        f.kind = FaultKind::Garbage;
        if (!want(1, 1) || !arg(1, 1, 65536, f.arg1))
            return std::nullopt;
    } else if (kind == "babble") {
        f.kind = FaultKind::Babble;
        f.arg1 = 5000;
        if (!want(0, 1) || (args == 1 && !arg(1, 1, 1 << 20, f.arg1)))
            return std::nullopt;
    } else if (kind == "wrongecho") {
        f.kind = FaultKind::WrongEcho;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "remoteoff") {
        // Only the installation has remote control to keep off.
        f.kind = FaultKind::RemoteOff;
        if (lineGiven && f.line != Line::Installation) {
            error = "remoteoff is a fault of the installation line in '" + faultText + "'";
            return std::nullopt;
        }
        f.line = Line::Installation;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "searchwrong") {
        // Only the transducer's own port hears the search frame; the installation ignores it.
        f.kind = FaultKind::SearchWrong;
        if (lineGiven && f.line != Line::Device) {
            error = "searchwrong is a fault of the device line in '" + faultText + "'";
            return std::nullopt;
        }
        f.line = Line::Device;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "silent") {
        f.kind = FaultKind::Silent;
        if (!want(1, 1) || !arg(1, 1, 600000, f.arg1))
            return std::nullopt;
        // A deaf window that reopened by itself after every window would never let the line recover.
        if (f.remaining < 0)
            f.remaining = 1;
    } else if (kind == "unplug") {
        f.kind = FaultKind::Unplug;
        if (!want(0, 1) || (args == 1 && !arg(1, 1, 600000, f.arg1)))
            return std::nullopt;
    } else if (kind == "replug") {
        f.kind = FaultKind::Replug;
        if (!want(0, 0))
            return std::nullopt;
    } else if (kind == "amplifier") {
        f.kind = FaultKind::Amplifier;
        if (!want(1, 1) || !arg(1, 0, 255, f.arg1))
            return std::nullopt;
    } else if (kind == "hangup") {
        f.kind = FaultKind::HangUp;
        f.arg1 = 300;
        if (!want(0, 1) || (args == 1 && !arg(1, 0, 600000, f.arg1)))
            return std::nullopt;
    } else {
        error = "unknown fault '" + kind + "'";
        return std::nullopt;
    }
    return f;
}

namespace {
bool Matches(const Fault &f, Line line, uint8_t function, uint16_t reg)
{
    if (f.line != line || (f.reg && *f.reg != reg))
        return false;
    if (f.kind == FaultKind::WrongEcho)
        return function == kFnWriteOne || function == kFnWriteMany;
    if (f.kind == FaultKind::RemoteOff)
        return reg == 0 && (function == kFnWriteOne || function == kFnWriteMany);
    if (f.kind == FaultKind::SearchWrong)
        return function == kFnSearch;
    return true;
}
} // namespace

AnswerPlan FaultTable::PlanFor(Line line, uint8_t function, uint16_t reg)
{
    AnswerPlan plan;
    for (auto it = faults_.begin(); it != faults_.end();) {
        Fault &f = *it;
        if (!Matches(f, line, function, reg)) {
            ++it;
            continue;
        }
        if (f.after && *f.after > 0) {
            --*f.after;
            ++it;
            continue;
        }
        if (IsStateFault(f.kind)) {
            plan.stateFaults.push_back(f);
            it = faults_.erase(it);
            continue;
        }
        switch (f.kind) {
        case FaultKind::NoAnswer:
            plan.drop = true;
            break;
        case FaultKind::Delay:
            plan.extraDelayMs += f.arg1;
            break;
        case FaultKind::Split:
            plan.splitAt = f.arg1;
            plan.splitGapMs = f.arg2;
            break;
        case FaultKind::Crc:
            plan.corruptCrc = true;
            break;
        case FaultKind::Exception:
            plan.exceptionCode = f.arg1;
            break;
        case FaultKind::Garbage:
            plan.garbage += f.arg1;
            break;
        case FaultKind::Babble:
            plan.babble = f.arg1;
            break;
        case FaultKind::WrongEcho:
            plan.wrongEcho = true;
            break;
        case FaultKind::RemoteOff:
            plan.remoteOff = true;
            break;
        case FaultKind::SearchWrong:
            plan.searchWrong = true;
            break;
        case FaultKind::Silent:
            plan.silentMs = f.arg1;
            plan.silentBy = f.text;
            break;
        default:
            break;
        }
        plan.applied.push_back(f.text);
        if (f.remaining > 0 && --f.remaining == 0)
            it = faults_.erase(it);
        else
            ++it;
    }
    return plan;
}

std::vector<std::string> FaultTable::Active() const
{
    std::vector<std::string> out;
    for (const Fault &f : faults_) {
        std::string notes;
        if (f.after && *f.after > 0)
            notes = std::to_string(*f.after) + " to pass";
        if (f.remaining > 0)
            notes += (notes.empty() ? "" : ", ") + std::to_string(f.remaining) + " left";
        out.push_back(notes.empty() ? f.text : f.text + " (" + notes + ")");
    }
    return out;
}

} // namespace kestsim
