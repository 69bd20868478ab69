// The throw-away PostgreSQL cluster that scripts/pg-test-cluster starts for the tests, and a
// database of its own for each test on it. Where the cluster is comes from the environment:
// VRK_TEST_PG_SOCKET and VRK_TEST_PG_PORT, or the file "env" in the folder VRK_TEST_PG_STATE
// names (ctest's fixture starts the cluster there). A test that needs the cluster fails when
// it cannot be reached: a line database left untested must not pass unnoticed.
#pragma once

#include <string>

namespace vrk::test {

struct PgCluster {
    std::string socket_folder;
    std::string port;
    std::string error;  // why the cluster is not there; empty when it is
};

[[nodiscard]] PgCluster pg_cluster();

// A new, empty database on the cluster, dropped (with whoever is still connected to it) when
// this goes.
class ScratchDatabase {
  public:
    ScratchDatabase();
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    [[nodiscard]] bool ok() const { return error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    // The database as the superuser reaches it over the Unix socket, and over TCP.
    [[nodiscard]] std::string socket_uri() const;
    [[nodiscard]] std::string tcp_uri(const std::string& user = "postgres") const;
    // Runs SQL on it as the superuser; the server's message on a failure, else empty.
    [[nodiscard]] std::string run(const std::string& sql) const;

  private:
    PgCluster cluster_;
    std::string name_;
    std::string error_;
};

}  // namespace vrk::test
