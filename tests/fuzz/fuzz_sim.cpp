// kest-sim's request side: arbitrary bytes on either line go through the framer and into the
// installation's and the transducer's request handlers.

#include <cstddef>
#include <cstdint>

#include "installation.h"
#include "modbusslave.h"
#include "transducer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static kestsim::Installation inst;
    static kestsim::Transducer dev;
    kestsim::RequestFramer framer;
    // Feed in uneven pieces, as a line would deliver them.
    size_t at = 0;
    while (at < size) {
        const size_t piece = 1 + data[at] % 17;
        const size_t n = piece < size - at ? piece : size - at;
        framer.Feed(data + at, n);
        at += n;
        kestsim::Request rq;
        kestsim::Bytes skipped;
        while (framer.Next(rq, skipped)) {
            if (rq.address == 0x77 || rq.address == 0)
                (void)inst.Handle(rq, dev);
            else
                (void)dev.Handle(rq, inst.CurrentOutputs(), inst.energyA, inst.energyR);
            if (dev.type == kestsim::DeviceType::None || !dev.plugged) {
                dev.type = kestsim::DeviceType::QX4E;
                dev.plugged = true;
            }
        }
        if (size % 7 == 0)
            framer.DropStale(skipped);
    }
    return 0;
}
