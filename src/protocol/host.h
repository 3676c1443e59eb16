#pragma once
// What the upload needs of the window: the two progress displays and the
// modal message box.

#include <string>

namespace vq {

class Displays {
public:
    virtual ~Displays() = default;
    // The progress bar, 0..100.
    virtual void set_progress(float value) = 0;
    // The percentage text next to the bar.
    virtual void set_percent_text(const std::string& text) = 0;
};

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Shows `text` with a single OK button; returns when the user closes it.
    virtual void show(const std::string& text) = 0;
};

}  // namespace vq
