#pragma once
// Keeps each upload's record where the records go. A server that cannot be
// reached gets it later: the record waits in the spool (an SQLite file
// beside the default one), and every later keep and every sync sends the
// spool first. A record reaches the server once, whatever breaks when:
// its id is the key, and the spool forgets a record only after the server
// has it.

#include <functional>
#include <memory>
#include <string>

#include "records/store.h"

namespace vq::records {

using StoreOpener = std::function<std::unique_ptr<RecordStore>(const RecordsTarget&)>;

class RecordKeeper {
public:
    RecordKeeper(RecordsTarget target, std::string spool_path,
                 StoreOpener open = [](const RecordsTarget& t) { return open_store(t); })
        : target_(std::move(target)), spool_path_(std::move(spool_path)), open_(std::move(open)) {}

    struct Kept {
        bool kept = false;   // committed somewhere: where asked, or in the spool
        std::string where;   // where it was committed
        std::string note;    // one line for the ending when not where asked; empty otherwise
    };
    // Commits `record`, after sending the spool when the records go to a server.
    Kept keep(const UploadRecord& record);

    struct Synced {
        int sent = 0;
        int left = 0;         // still in the spool
        std::string problem;  // why the rest was not sent
    };
    // Sends the spool to the server.
    Synced sync();

    // The next number of a counter where the records go; throws StoreError
    // when it cannot be had (no records are kept, or their place cannot be
    // reached): a number from anywhere else could be given twice.
    // `opening` as RecordStore::next_number's.
    std::int64_t next_number(const std::string& name, std::int64_t first, const RecordStore::Opening& opening = {});

    bool enabled() const { return target_.kind != RecordsTarget::None; }
    const RecordsTarget& target() const { return target_; }
    void set_target(RecordsTarget target) { target_ = std::move(target); }

private:
    // Sends the spool to `server`, or to one it opens when there is anything to send.
    Synced send_spool(RecordStore* server);

    RecordsTarget target_;
    std::string spool_path_;
    StoreOpener open_;
};

}  // namespace vq::records
