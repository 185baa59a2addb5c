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
