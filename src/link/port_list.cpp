#include "link/port_list.h"

#include "protocol/failure.h"

namespace vq {
namespace {
void require(bool ok) {
    if (!ok) throw Failure(err::InvalidPropertyValue, "list position out of range");
}
}  // namespace

void MemoryPortList::Clear() {
    items_.clear();
    text_.clear();
}

void MemoryPortList::AddItem(const std::string& text, int position) {
    require(position >= 0 && position <= ListCount());
    items_.insert(items_.begin() + position, text);
}

void MemoryPortList::RemoveItem(int position) {
    require(position >= 0 && position < ListCount());
    items_.erase(items_.begin() + position);
}

std::string MemoryPortList::List(int position) const {
    return position >= 0 && position < ListCount() ? items_[static_cast<std::size_t>(position)] : std::string();
}

void MemoryPortList::setListIndex(int position) {
    require(position >= 0 && position < ListCount());
    text_ = items_[static_cast<std::size_t>(position)];
}

}  // namespace vq
