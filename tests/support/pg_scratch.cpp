#include "tests/support/pg_scratch.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>

namespace vrk::test {

namespace {

std::map<std::string, std::string> read_env_file(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, equals)] = value;
    }
    return values;
}

std::string run_on(const std::string& uri, const std::string& sql) {
    PGconn* conn = PQconnectdb(uri.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
    } else {
        PGresult* result = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            error = PQresultErrorMessage(result);
        PQclear(result);
    }
    PQfinish(conn);
    return error;
}

std::string socket_uri_of(const PgCluster& c, const std::string& database) {
    return "postgresql:///" + database + "?host=" + c.socket_folder + "&port=" + c.port +
           "&user=postgres";
}

}  // namespace

PgCluster pg_cluster() {
    PgCluster c;
    const char* socket = std::getenv("VRK_TEST_PG_SOCKET");
    const char* port = std::getenv("VRK_TEST_PG_PORT");
    if (socket != nullptr && port != nullptr) {
        c.socket_folder = socket;
        c.port = port;
        return c;
    }
    const char* state = std::getenv("VRK_TEST_PG_STATE");
    if (state == nullptr) {
        c.error =
            "no PostgreSQL cluster for the tests: run them with ctest (its fixture starts one), "
            "or start one with scripts/pg-test-cluster and set VRK_TEST_PG_STATE";
        return c;
    }
    auto values = read_env_file(std::string(state) + "/env");
    c.socket_folder = values["VRK_TEST_PG_SOCKET"];
    c.port = values["VRK_TEST_PG_PORT"];
    if (c.socket_folder.empty() || c.port.empty())
        c.error = std::string("the PostgreSQL cluster for the tests did not start (no ") + state +
                  "/env): see the output of the pg_cluster_start test";
    return c;
}

ScratchDatabase::ScratchDatabase() : cluster_(pg_cluster()) {
    if (!cluster_.error.empty()) {
        error_ = cluster_.error;
        return;
    }
    static std::atomic<int> counter{0};
    name_ = "vrk_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    error_ = run_on(socket_uri_of(cluster_, "postgres"), "CREATE DATABASE " + name_);
}

ScratchDatabase::~ScratchDatabase() {
    if (ok()) (void)run_on(socket_uri_of(cluster_, "postgres"),
                           "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
}

std::string ScratchDatabase::socket_uri() const {
    return socket_uri_of(cluster_, name_);
}

std::string ScratchDatabase::tcp_uri(const std::string& user) const {
    return "postgresql://" + user + "@127.0.0.1:" + cluster_.port + "/" + name_;
}

std::string ScratchDatabase::run(const std::string& sql) const {
    return run_on(socket_uri(), sql);
}

}  // namespace vrk::test
