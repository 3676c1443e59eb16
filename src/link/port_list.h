#pragma once
// The port list as discovery uses it: a list of texts with a current text,
// like an editable drop-down box.

#include <string>
#include <vector>

namespace vq {

class PortList {
public:
    virtual ~PortList() = default;
    virtual void Clear() = 0;
    // Inserts `text` at `position` (0..ListCount()).
    virtual void AddItem(const std::string& text, int position) = 0;
    virtual void RemoveItem(int position) = 0;
    virtual int ListCount() const = 0;
    // The text at `position`; the empty text at or past the end.
    virtual std::string List(int position) const = 0;
    // Selects an entry; the list's text becomes that entry's text. Fails
    // (throws) when there is no such entry.
    virtual void setListIndex(int position) = 0;
};

// A port list in memory, for programs without a window.
class MemoryPortList final : public PortList {
public:
    void Clear() override;
    void AddItem(const std::string& text, int position) override;
    void RemoveItem(int position) override;
    int ListCount() const override { return static_cast<int>(items_.size()); }
    std::string List(int position) const override;
    void setListIndex(int position) override;

    const std::vector<std::string>& items() const { return items_; }
    void set_items(std::vector<std::string> items) { items_ = std::move(items); }
    // The list's text: the selected entry's, or empty.
    const std::string& text() const { return text_; }

private:
    std::vector<std::string> items_;
    std::string text_;
};

}  // namespace vq
