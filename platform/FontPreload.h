#pragma once
// Reading the system's font configuration ahead of the toolkit. A window's first text
// measurement (its layout is in units of the dialog font) otherwise reads the whole font
// configuration on the window's thread, before the window can be shown; started first thing
// on a thread of its own, that reading runs beside the toolkit's own start instead.
//
// Threads: made and finished on the program's main thread; the reading runs on a thread that
// the object owns and joins.

#include <memory>

namespace tarvex {

class CFontPreload {
public:
    virtual ~CFontPreload() = default;
    // Waits until the configuration has been read. Call it before the toolkit first looks for a
    // font, so that nobody reads the configuration twice; the destructor waits as well.
    virtual void Finish() = 0;
};

// Starts the reading. On a system whose toolkit reads no such configuration the object does
// nothing.
std::unique_ptr<CFontPreload> StartFontPreload();

}  // namespace tarvex
