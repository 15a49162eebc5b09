// Reading the poll from the store file (see PollStore.h). The store keeps names and data as
// code page 936 blobs; key names are looked up by their form with ASCII letters lower-cased,
// and a string value's data ends with a NUL.
#include "PollStore.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace {

// The poll's key, as the store files it; the count's value name.
const std::string kPollKeyFolded = "software\\聊天室\\机器人";
const std::string kCountName = "次数";

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

} // namespace

PollRecord readPoll(const std::string& configHome)
{
    std::string path = configHome + "/chatroom-server/registry.sqlite3";
    sqlite3* opened = nullptr;
    int status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, CloseDatabase> db(opened);
    if (status != SQLITE_OK)
        throw std::runtime_error("cannot open " + path + ": " + (db ? sqlite3_errmsg(db.get()) : "out of memory"));

    auto prepare = [&](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("cannot query the store: ") + sqlite3_errmsg(db.get()));
        return std::unique_ptr<sqlite3_stmt, FinalizeStatement>(statement);
    };

    PollRecord record;
    auto integrity = prepare("PRAGMA integrity_check");
    while (sqlite3_step(integrity.get()) == SQLITE_ROW) {
        if (!record.integrity.empty())
            record.integrity += "; ";
        record.integrity += reinterpret_cast<const char*>(sqlite3_column_text(integrity.get(), 0));
    }

    auto values = prepare("SELECT name, data FROM registry_values WHERE key_fold = ?1");
    sqlite3_bind_blob(values.get(), 1, kPollKeyFolded.data(), int(kPollKeyFolded.size()), SQLITE_STATIC);
    while (sqlite3_step(values.get()) == SQLITE_ROW) {
        auto column = [&](int index) {
            auto bytes = static_cast<const char*>(sqlite3_column_blob(values.get(), index));
            return bytes ? std::string(bytes, size_t(sqlite3_column_bytes(values.get(), index))) : std::string();
        };
        std::string name = column(0);
        std::string data = column(1);
        if (name == kCountName)
            record.count = std::stoi(data.substr(0, data.find('\0')));
        else
            ++record.voters;
    }
    return record;
}
