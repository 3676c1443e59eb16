#pragma once
// The port list as discovery uses it: a list of texts with a current text,
// like an editable drop-down box.

#include <string>

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

}  // namespace vq
