#pragma once
// What one fiscalisation takes from the settings and the test switches: read
// once when the run starts, so nothing changes under it while it lasts.
#include <cstdint>
#include <string>

namespace kv::device {

struct RunSettings {
    bool testMode = false;     // the test service: bare invoice request, English answers only
    bool latinLabels = false;  // tax labels in Latin letters
    int64_t printUredjaj = 0;  // 0 none, 1 the device, 2 POS printer, 3 A4 printer
    int64_t renderPrint = 1;   // receipt form on POS/A4: 0 text, 1 picture, 2 report
    int64_t pos5880 = 0;
    int64_t oldNacPl = 0;
    int64_t printGtin = 0;
    std::string pin;
};

}  // namespace kv::device
