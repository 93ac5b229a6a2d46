cmake_minimum_required(VERSION 3.25)
# Puts the page together: its style, its script and the worker (the core in
# WebAssembly with its script) inside one HTML file.
file(READ ${SOURCE}/page.html page)
file(READ ${SOURCE}/page.css style)
file(READ ${SOURCE}/page.js script)
file(READ ${WORKER} worker)
# Inside a script element only "</script" would end it early; "<\/" means
# the same in the script's strings and expressions.
string(REPLACE "</script" "<\\/script" worker "${worker}")
string(REPLACE "</script" "<\\/script" script "${script}")
string(REPLACE "@STYLE@" "${style}" page "${page}")
string(REPLACE "@SCRIPT@" "${script}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@WORKER@" "${worker}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
