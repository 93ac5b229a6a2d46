#include "sample_program.h"

#include <array>
#include <random>
#include <string>

namespace varnook::bench {

Bytes sampleProgram(std::size_t size)
{
    static const std::array<const char*, 12> statements = {
        "PRINT \"VOLTAGE =\";V",
        "OUTPUT 709;\"MEAS:VOLT:DC?\"",
        "ENTER 709;Reading",
        "FOR I=1 TO 100",
        "NEXT I",
        "IF Reading>Limit THEN GOSUB 9000",
        "WAIT .5",
        "REM ---- measurement loop ----",
        "DIM Buffer$[80],Data(1:500)",
        "PLOT X,Y",
        "GOTO 100",
        "END",
    };
    std::mt19937 random(1987);
    Bytes bytes;
    bytes.reserve(size + 128);
    long number = 10;
    while (bytes.size() < size) {
        std::string line = std::to_string(number) + " " + statements[random() % statements.size()];
        const std::size_t length = 5 + random() % 66;
        while (line.size() < length) {
            line += line.size() % 7 == 0 ? ' ' : static_cast<char>('A' + random() % 26);
        }
        line.resize(length);
        bytes.insert(bytes.end(), line.begin(), line.end());
        bytes.push_back('\r');
        bytes.push_back('\n');
        number += 10;
    }
    return bytes;
}

} // namespace varnook::bench
