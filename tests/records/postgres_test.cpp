// The records on a real PostgreSQL server, started for these tests.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <libpq-fe.h>
#include <thread>

#include "records/keeper.h"
#include "support/postgres_server.h"
#include "support/record_samples.h"
#include "support/temp_file.h"

namespace vq::records {
namespace {

UploadRecord record(const std::string& id) {
    UploadRecord r;
    r.id = new_record_id();
    r.unit = id;
    r.started_at = r.ended_at = utc_timestamp(std::chrono::system_clock::now());
    r.station = "line-1";
    r.outcome = "finished";
    return r;
}

void sql(const std::string& uri, const std::string& statement) {
    PGconn* c = PQconnectdb(uri.c_str());
    PGresult* r = PQexec(c, statement.c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
}

struct Server : ::testing::Test {
    test::PostgresServer server;
    test::TempDir dir;
    RecordsTarget target{RecordsTarget::Postgres, server.uri()};
};

TEST_F(Server, SixteenPortsWriteAtOnceAndTheFirstOfThemMakesTheSchema) {
    std::vector<std::thread> ports;
    for (int p = 0; p < 16; ++p)
        ports.emplace_back([&, p] {
            RecordKeeper keeper(target, dir.file("spool-" + std::to_string(p) + ".sqlite"));
            for (int i = 0; i < 10; ++i) {
                const RecordKeeper::Kept kept = keeper.keep(record("SN" + std::to_string(p)));
                EXPECT_TRUE(kept.note.empty()) << kept.note;
            }
        });
    for (auto& t : ports) t.join();
    EXPECT_EQ(list(*open_server_store(server.uri()), {}).size(), 160u);
}

TEST_F(Server, TheReadmesRolesLetStationsWriteAndReadersOnlyRead) {
    std::ifstream file(VQ_SOURCE_DIR "/docs/records-server.sql");
    sql(server.uri(), std::string(std::istreambuf_iterator<char>(file), {}));
    const auto as = [&](const char* role) {
        std::string uri = server.uri();
        return uri.replace(uri.find("user=vq"), 7, std::string("user=") + role);
    };
    RecordKeeper keeper({RecordsTarget::Postgres, as("vellquin_station")}, dir.file("spool.sqlite"));
    EXPECT_TRUE(keeper.keep(record("SN1")).note.empty()) << keeper.keep(record("SN1")).note;
    const auto read = open_server_store(as("vellquin_reader"));
    EXPECT_EQ(list(*read, {}).size(), 1u);
    try {
        read->put(record("SN2"));
        ADD_FAILURE() << "a reader wrote";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("permission denied"), std::string::npos) << e.what();
    }
}

TEST_F(Server, YieldIsCountedAsInSqliteAndACounterHandsOutEachNumberOnce) {
    const auto store = open_server_store(server.uri());
    test::put_yield_day(*store);
    test::expect_yield_by_station(*store);
    const auto other = open_server_store(server.uri());
    EXPECT_EQ(store->next_number("VQ-{:06d}", 100), 100);
    EXPECT_EQ(other->next_number("VQ-{:06d}", 100), 101);
    EXPECT_EQ(store->next_number("another", 1), 1);
    test::expect_openings_replaced_once(*store);
}

TEST_F(Server, StoppedMidRunItGetsEveryRecordOnceItIsBack) {
    RecordKeeper keeper(target, dir.file("spool.sqlite"));
    EXPECT_TRUE(keeper.keep(record("SN1")).note.empty());
    server.stop();
    for (const char* unit : {"SN2", "SN3"}) {
        const RecordKeeper::Kept kept = keeper.keep(record(unit));
        EXPECT_TRUE(kept.kept);
        EXPECT_EQ(kept.note.rfind("record kept locally: the records server is unreachable", 0), 0u) << kept.note;
    }
    server.start();
    const RecordKeeper::Synced synced = keeper.sync();
    EXPECT_EQ(synced.sent, 2) << synced.problem;
    EXPECT_EQ(keeper.sync().sent, 0) << "sent once";
    EXPECT_EQ(list(*open_server_store(server.uri()), {}).size(), 3u);
    EXPECT_EQ(list(*open_server_store(server.uri()), {.unit = "SN3"}).size(), 1u);
}

TEST_F(Server, OneThatDoesNotAnswerIsUnreachableWithinTwoSeconds) {
    const auto store = open_server_store(server.uri());
    server.pause();
    const auto began = std::chrono::steady_clock::now();
    try {
        store->put(record("SN1"));
        ADD_FAILURE() << "a paused server took the record";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Unreachable) << e.what();
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    server.resume();
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 3.0);
}

TEST_F(Server, ANewerSchemaIsRefusedAndTheRecordSpooled) {
    open_server_store(server.uri());  // makes the schema
    sql(server.uri(), "UPDATE vq_schema SET version = 3");
    try {
        open_server_store(server.uri());
        ADD_FAILURE() << "a newer schema was taken";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Refused);
        EXPECT_EQ(std::string(e.what()), server.uri() + " has records of schema 3, newer than this program's 2");
    }
    RecordKeeper keeper(target, dir.file("spool.sqlite"));
    const RecordKeeper::Kept kept = keeper.keep(record("SN1"));
    EXPECT_EQ(kept.where, "sqlite:" + dir.file("spool.sqlite"));
    EXPECT_NE(kept.note.find("newer than this program's 2"), std::string::npos) << kept.note;
}

}  // namespace
}  // namespace vq::records
