#pragma once
// Injectable faults. A fault is described in one word:
//
//   [TARGET:]KIND[:ARG[:ARG]][@REGISTER][#COUNT]
//
// TARGET is "installation" (the default) or "device" (the transducer's own port). Per-request kinds
// apply to the requests on that line (only those starting at REGISTER when given), to the next COUNT
// of them when "#COUNT" is given, otherwise until cleared:
//   noanswer            the request is lost: no answer, nothing done
//   delay:MS            the answer starts MS later than usual
//   split:BYTES:MS      the answer leaves in two bursts, the second MS after the first BYTES
//   crc                 the last check byte of the answer is corrupted
//   exception:CODE      a Modbus exception answer with CODE instead of the answer, nothing done
//   garbage:N           N random bytes follow the answer
//   babble:N            N random bytes (default 5000) instead of the answer
// State kinds act at once:
//   unplug[:MS]         the transducer is unplugged (replugged after MS when given)
//   replug              the transducer is plugged in again
//   amplifier:N         amplifier N reports a failure and delivers nothing (0 clears)
//   hangup[:MS]         the line's pseudo-terminal is closed and a new one opened MS later (default 300)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestsim {

enum class Line { Installation, Device };

enum class FaultKind { NoAnswer, Delay, Split, Crc, Exception, Garbage, Babble, Unplug, Replug, Amplifier, HangUp };

struct Fault {
    Line line = Line::Installation;
    FaultKind kind = FaultKind::NoAnswer;
    int arg1 = 0;
    int arg2 = 0;
    std::optional<uint16_t> reg;
    int remaining = -1;    // -1: until cleared
    std::string text;      // the description as given
};

// nullopt with a reason in `error` when the description is not understood.
std::optional<Fault> ParseFault(const std::string &faultText, std::string &error);
bool IsStateFault(FaultKind kind);

// What happens to one answer after all matching faults have been applied.
struct AnswerPlan {
    bool drop = false;
    int extraDelayMs = 0;
    int splitAt = 0;        // 0: one burst
    int splitGapMs = 0;
    bool corruptCrc = false;
    int exceptionCode = 0;  // 0: none
    int garbage = 0;
    int babble = 0;
};

class FaultTable {
public:
    void Add(const Fault &fault) { faults_.push_back(fault); }
    void Clear() { faults_.clear(); }
    // Applies (and counts down) every per-request fault that matches this request.
    AnswerPlan PlanFor(Line line, uint16_t reg);
    std::vector<std::string> Active() const;

private:
    std::vector<Fault> faults_;
};

}  // namespace kestsim
