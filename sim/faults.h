#pragma once
// Injectable faults. A fault is described in one word:
//
//   [TARGET:]KIND[:ARG[:ARG]][@REGISTER][+AFTER][#COUNT]   (the suffixes in any order)
//
// TARGET is "installation" (the default) or "device" (the transducer's own port). Per-request kinds
// apply to the requests on that line (only those starting at REGISTER when given), to the next COUNT
// of them when "#COUNT" is given, otherwise until cleared. "+AFTER" lets the next AFTER matching
// requests through untouched first, so a fault can strike in the middle of a conversation:
//   noanswer            the request is lost: no answer, nothing done
//   delay:MS            the answer starts MS later than usual
//   split:BYTES:MS      the answer leaves in two bursts, the second MS after the first BYTES
//   crc                 the last check byte of the answer is corrupted
//   exception:CODE      a Modbus exception answer with CODE instead of the answer, nothing done
//   garbage:N           N random bytes follow the answer
//   babble:N            N random bytes (default 5000) instead of the answer
//   wrongecho           a write (functions 6, 16; only they match) is answered with a well-formed frame
//                       that is not its echo (the value, or the block's count, XOR 1), nothing done
//   remoteoff           the installation keeps its remote control off (its panel has control): a write
//                       to register 0 (functions 6, 16; only they match) is answered with the echo of
//                       a write of 0 there, "77 06 00 00 00 00", nothing done; installation line only
//   searchwrong         the transducer answers the search frame (function 0x77, the only match) with a
//                       read answer "ADDR 03 02 00 00" instead; device line only, and its default
//   silent:MS           the line goes deaf for MS ms from this request on: every request is lost and
//                       passes no other fault; acts once unless "#COUNT" is given (the next window
//                       then opens at the first matching request after this one has closed)
// State kinds act at once, or with "+AFTER" at the matching request after the next AFTER ones
// (before that request is handled, so "unplug@1996+3" leaves the fourth relayed read without its
// transducer, and "hangup+2" loses the third request with the line):
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

enum class FaultKind {
    NoAnswer,
    Delay,
    Split,
    Crc,
    Exception,
    Garbage,
    Babble,
    WrongEcho,
    RemoteOff,
    SearchWrong,
    Silent,
    Unplug,
    Replug,
    Amplifier,
    HangUp
};

struct Fault {
    Line line = Line::Installation;
    FaultKind kind = FaultKind::NoAnswer;
    int arg1 = 0;
    int arg2 = 0;
    std::optional<uint16_t> reg;
    int remaining = -1; // -1: until cleared
    std::optional<int> after; // matching requests still to let through; a state fault waits for them
    std::string text; // the description as given
};

// nullopt with a reason in `error` when the description is not understood.
std::optional<Fault> ParseFault(const std::string &faultText, std::string &error);
bool IsStateFault(FaultKind kind);
// A state fault given with "+AFTER" waits in the table for its request instead of acting at once.
inline bool ActsAtOnce(const Fault &f)
{
    return IsStateFault(f.kind) && !f.after;
}

// What happens to one answer after all matching faults have been applied.
struct AnswerPlan {
    bool drop = false;
    int extraDelayMs = 0;
    int splitAt = 0; // 0: one burst
    int splitGapMs = 0;
    bool corruptCrc = false;
    int exceptionCode = 0; // 0: none
    int garbage = 0;
    int babble = 0;
    bool wrongEcho = false;
    bool remoteOff = false;
    bool searchWrong = false;
    int silentMs = 0; // 0: none; otherwise this request opens a deaf window
    std::vector<Fault> stateFaults; // waiting state faults whose request this is: apply them first
    std::string silentBy; // the fault that opened the window
    std::vector<std::string> applied; // every per-request fault that touched this request, as given
};

class FaultTable {
public:
    void Add(const Fault &fault) { faults_.push_back(fault); }
    void Clear() { faults_.clear(); }
    // Applies (and counts down) every per-request fault that matches this request.
    AnswerPlan PlanFor(Line line, uint8_t function, uint16_t reg);
    std::vector<std::string> Active() const;

private:
    std::vector<Fault> faults_;
};

} // namespace kestsim
