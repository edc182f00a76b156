// Where the engine's messages go (the reader's, the check's, the progress
// line). The engine names no stream: a driver passes a sink that writes to
// one, a test passes one that collects. An empty sink drops the messages.
#pragma once

#include <functional>
#include <string_view>

// Called with whole pieces of text, each as the engine would have written it.
using MessageSink = std::function<void(std::string_view)>;

inline void tell(const MessageSink& sink, std::string_view text) {
    if (sink) sink(text);
}
