#pragma once
// Displays, message box and file system that remember what happened.

#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/host.h"
#include "protocol/image_file.h"

namespace vq::test {

class RecordingDisplays final : public Displays {
public:
    void set_progress(float value) override {
        progress = value;
        progress_history.push_back(value);
    }
    void set_percent_text(const std::string& text) override {
        percent_text = text;
        text_history.push_back(text);
    }
    float progress = 0;
    std::string percent_text;
    std::vector<float> progress_history;
    std::vector<std::string> text_history;
    // The percentages shown, in order ("25%", ...), without the blanks.
    std::vector<std::string> percentages() const;
};

class RecordingMessages final : public MessageBox {
public:
    void show(const std::string& text) override {
        shown.push_back(text);
        if (on_show) on_show(text);
    }
    std::vector<std::string> shown;
    std::function<void(const std::string&)> on_show;
};

// Files in memory. A file's length can be changed behind the upload's back.
class MemoryFiles final : public FileSystem {
public:
    void put(const std::string& name, std::vector<std::uint8_t> bytes) { files_[name] = std::move(bytes); }
    void resize(const std::string& name, std::size_t size) { files_[name].resize(size); }
    bool exists(const std::string& name) const { return files_.count(name) != 0; }
    std::unique_ptr<ImageFile> open_image(const std::string& name) override;
    int open_files() const { return *open_; }
    // Pretends the file is this long without holding the bytes.
    void fake_length(const std::string& name, std::int64_t length) { fake_lengths_[name] = length; }

private:
    std::map<std::string, std::vector<std::uint8_t>> files_;
    std::map<std::string, std::int64_t> fake_lengths_;
    std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

}  // namespace vq::test
