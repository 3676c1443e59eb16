#pragma once
// Lines typed on stdin (a barcode scanner types like a keyboard, and ends
// with Enter), read on a thread of their own so that the main loop never
// waits for them: each line wakes the loop, which takes them. The thread
// ends with stdin; one still reading when the program ends is left to it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vq::cli {

class LineReader {
public:
    // `wake` is called from the reading thread after each line.
    explicit LineReader(std::function<void()> wake);
    // `wake` is not called after this.
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    // The lines read since the last take, in order.
    std::vector<std::string> take();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace vq::cli
