#pragma once

#include <string>
#include <vector>

#include "startup/UserMessage.h"

struct RecordedMessage {
    HWND owner;
    std::string text;
    std::string caption;
};

// Catches every message the code under test shows, instead of a modal box, while it is alive.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    const std::vector<RecordedMessage>& messages() const;

private:
    MessageSink previous_;
};

// A real message box of the program's, shown by a thread of its own, to see when it is dismissed;
// the destructor closes it if it is still open. One never activated stands for a box on a locked
// workstation.
class ShownMessageBox {
public:
    explicit ShownMessageBox(bool activated = true);
    ~ShownMessageBox();

    bool stillOpen() const;

private:
    HANDLE thread_;
};
