#include "support/recording_host.h"

#include "protocol/failure.h"

namespace vq::test {

std::vector<std::string> RecordingDisplays::percentages() const {
    std::vector<std::string> out;
    for (const std::string& t : text_history)
        if (!t.empty() && t.back() == '%') out.push_back(t);
    return out;
}

namespace {
class MemoryImage final : public ImageFile {
public:
    MemoryImage(std::map<std::string, std::vector<std::uint8_t>>& files, std::string name,
                std::optional<std::int64_t> fake, std::shared_ptr<int> open)
        : files_(files), name_(std::move(name)), fake_(fake), open_(std::move(open)) {
        ++*open_;
    }
    ~MemoryImage() override { --*open_; }
    std::int64_t length() override {
        if (fake_) return *fake_;
        auto it = files_.find(name_);
        if (it == files_.end()) throw Failure(err::DeviceIo, "The file could not be read: " + name_);
        return static_cast<std::int64_t>(it->second.size());
    }
    std::vector<std::uint8_t> read_all() override { return files_.at(name_); }

private:
    std::map<std::string, std::vector<std::uint8_t>>& files_;
    std::string name_;
    std::optional<std::int64_t> fake_;
    std::shared_ptr<int> open_;
};
}  // namespace

std::unique_ptr<ImageFile> MemoryFiles::open_image(const std::string& name) {
    if (!files_.count(name)) throw Failure(err::PathFileAccess, "No such file: " + name);
    std::optional<std::int64_t> fake;
    if (fake_lengths_.count(name)) fake = fake_lengths_.at(name);
    return std::make_unique<MemoryImage>(files_, name, fake, open_);
}

}  // namespace vq::test
