#pragma once

#include <string>

namespace varnook::settings {

// The twelve values the main window remembers between runs, as config.ini
// holds them under Window and Option. read() takes each from the file (or
// its default) in the order of the table; write() stores them in that order.
struct RememberedState {
    // The outer rectangle of the normal state, in twips.
    double top = 0;
    double left = 0;
    double height = 0;
    double width = 0;
    int state = 0; // 0 normal, 1 minimized, 2 maximized
    bool readHp = true;
    bool readTxt = false;
    bool writeHp = false;
    bool writeTxt = true;
    bool addLineNum = false;
    std::string start = "10";
    std::string step = "10";

    static RememberedState read();
    void write() const;
};

} // namespace varnook::settings
