// A thin layer over libpq, PostgreSQL's own client library: a connection, a statement's result
// and a transaction, each owning what libpq gave and releasing it however the scope is left.
// Every statement is sent with its parameters apart from its text (PQexecParams), never
// pasted into it, and every value travels as text.
//
// Not thread-safe: one connection is used by one thread at a time (the store holds a mutex).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrk::cli::pg {

// A statement's parameter: its text, or nullopt for NULL.
using Param = std::optional<std::string>;

[[nodiscard]] inline Param param(std::string_view text) {
    return std::string(text);
}
[[nodiscard]] inline Param param(const std::string& text) {
    return text;
}
[[nodiscard]] inline Param param(const char* text) {
    return std::string(text);
}
[[nodiscard]] inline Param param(const std::optional<std::string>& text) {
    return text;
}
[[nodiscard]] inline Param param(std::int64_t value) {
    return std::to_string(value);
}
template <typename T>
[[nodiscard]] Param param(const std::optional<T>& value) {
    if (!value) return std::nullopt;
    return std::to_string(static_cast<std::int64_t>(*value));
}
// An empty text is NULL: a step not reached, a result not yet known.
[[nodiscard]] inline Param text_or_null(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// SQLSTATEs the store acts on.
inline constexpr std::string_view UNIQUE_VIOLATION = "23505";
inline constexpr std::string_view SERIALIZATION_FAILURE = "40001";
inline constexpr std::string_view DEADLOCK_DETECTED = "40P01";

class Result {
  public:
    Result() = default;
    explicit Result(PGresult* result) : result_(result) {}

    // The statement ran (with or without rows).
    [[nodiscard]] bool ok() const;
    // The server's SQLSTATE for a failure ("23505"); empty when the server sent none (the
    // connection is gone, or libpq failed before sending).
    [[nodiscard]] std::string sqlstate() const;
    // The failure's primary message, without libpq's "ERROR:" and line ends.
    [[nodiscard]] std::string message() const;

    [[nodiscard]] int rows() const;
    // Rows an INSERT, UPDATE or DELETE touched.
    [[nodiscard]] long affected() const;
    [[nodiscard]] bool is_null(int row, int column) const;
    [[nodiscard]] std::string text(int row, int column) const;
    [[nodiscard]] std::optional<std::string> optional_text(int row, int column) const;
    // A column of an integer type; 0 for NULL or text that is no integer.
    [[nodiscard]] std::int64_t integer(int row, int column) const;
    template <typename T>
    [[nodiscard]] std::optional<T> optional_integer(int row, int column) const {
        if (is_null(row, column)) return std::nullopt;
        return static_cast<T>(integer(row, column));
    }

  private:
    struct Clear {
        void operator()(PGresult* result) const { PQclear(result); }
    };
    std::unique_ptr<PGresult, Clear> result_;
    // When no PGresult came back at all: the connection's message at the time.
    std::string lost_message_;
    friend class Connection;
};

class Connection {
  public:
    Connection() = default;
    // Connects with `conninfo` (a URI, or key=value pairs) on top of `defaults` (key, value)
    // that the URI's own parameters override. Check ok() and error().
    Connection(const std::string& conninfo,
               const std::vector<std::pair<std::string, std::string>>& defaults);

    [[nodiscard]] bool ok() const;  // connected, and the connection not known to be lost
    // libpq's last message for the connection, its lines joined; empty when none.
    [[nodiscard]] std::string error() const;
    [[nodiscard]] PGconn* get() const { return conn_.get(); }

    [[nodiscard]] Result exec(std::string_view sql, std::initializer_list<Param> params = {});
    [[nodiscard]] Result exec(std::string_view sql, const std::vector<Param>& params);
    // Runs statements without parameters, several separated by ';' (a schema's step).
    [[nodiscard]] Result exec_script(std::string_view sql);
    // Runs a query and hands its rows to `row` one at a time as they arrive (a Result of one
    // row each), so a table of any size is not held whole. Returns the failure, or an ok()
    // Result when every row was handed over.
    [[nodiscard]] Result stream(std::string_view sql, const std::vector<Param>& params,
                                const std::function<void(const Result&)>& row);

  private:
    struct Finish {
        void operator()(PGconn* conn) const { PQfinish(conn); }
    };
    std::unique_ptr<PGconn, Finish> conn_;
};

// BEGIN when made; ROLLBACK when left without commit() (the connection may be gone: then the
// server has rolled back already).
class Transaction {
  public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    [[nodiscard]] const Result& begun() const { return begun_; }
    [[nodiscard]] Result commit();

  private:
    Connection& connection_;
    Result begun_;
    bool open_ = false;
};

}  // namespace vrk::cli::pg
