#include "app/cli/station/pg_connection.h"

#include <charconv>

namespace vrk::cli::pg {

namespace {

// libpq's messages end in a line feed and may span lines ("connection to server ... failed:
// ...\n\tIs the server running ...?"): one line for ours.
std::string one_line(const char* text) {
    std::string out;
    if (text == nullptr) return out;
    bool blank = false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r' || *c == '\t') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += *c;
    }
    return out;
}

}  // namespace

bool Result::ok() const {
    if (!result_) return false;
    const ExecStatusType status = PQresultStatus(result_.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ||
           status == PGRES_SINGLE_TUPLE;
}

std::string Result::sqlstate() const {
    if (!result_) return {};
    const char* state = PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE);
    return state != nullptr ? state : "";
}

std::string Result::message() const {
    if (!result_) return lost_message_;
    const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY);
    if (primary != nullptr) return one_line(primary);
    return one_line(PQresultErrorMessage(result_.get()));
}

int Result::rows() const {
    return result_ ? PQntuples(result_.get()) : 0;
}

long Result::affected() const {
    if (!result_) return 0;
    const char* text = PQcmdTuples(result_.get());
    long value = 0;
    if (text != nullptr) std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

bool Result::is_null(int row, int column) const {
    return !result_ || row >= rows() || column >= PQnfields(result_.get()) ||
           PQgetisnull(result_.get(), row, column) != 0;
}

std::string Result::text(int row, int column) const {
    if (is_null(row, column)) return {};
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::optional<std::string> Result::optional_text(int row, int column) const {
    if (is_null(row, column)) return std::nullopt;
    return text(row, column);
}

std::int64_t Result::integer(int row, int column) const {
    const std::string value = text(row, column);
    std::int64_t number = 0;
    std::from_chars(value.data(), value.data() + value.size(), number);
    return number;
}

Connection::Connection(const std::string& conninfo,
                       const std::vector<std::pair<std::string, std::string>>& defaults) {
    // Ours first, then the URI as "dbname" expanded: libpq keeps the last value of a key, so
    // what the URI says wins.
    std::vector<const char*> keys, values;
    for (const auto& [key, value] : defaults) {
        keys.push_back(key.c_str());
        values.push_back(value.c_str());
    }
    keys.push_back("dbname");
    values.push_back(conninfo.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
}

bool Connection::ok() const {
    return conn_ && PQstatus(conn_.get()) == CONNECTION_OK;
}

std::string Connection::error() const {
    if (!conn_) return "out of memory";
    return one_line(PQerrorMessage(conn_.get()));
}

Result Connection::exec(std::string_view sql, std::initializer_list<Param> params) {
    return exec(sql, std::vector<Param>(params));
}

namespace {

struct Prepared {
    std::string sql;
    std::vector<const char*> values;
};

Prepared prepare(std::string_view sql, const std::vector<Param>& params) {
    Prepared p{std::string(sql), {}};
    p.values.reserve(params.size());
    for (const Param& value : params) p.values.push_back(value ? value->c_str() : nullptr);
    return p;
}

}  // namespace

Result Connection::exec(std::string_view sql, const std::vector<Param>& params) {
    Result result;
    if (!conn_) {
        result.lost_message_ = "out of memory";
        return result;
    }
    const Prepared p = prepare(sql, params);
    result.result_.reset(PQexecParams(conn_.get(), p.sql.c_str(), static_cast<int>(p.values.size()),
                                      nullptr, p.values.data(), nullptr, nullptr, 0));
    if (!result.result_) result.lost_message_ = error();
    return result;
}

Result Connection::exec_script(std::string_view sql) {
    Result result;
    if (!conn_) {
        result.lost_message_ = "out of memory";
        return result;
    }
    result.result_.reset(PQexec(conn_.get(), std::string(sql).c_str()));
    if (!result.result_) result.lost_message_ = error();
    return result;
}

Result Connection::stream(std::string_view sql, const std::vector<Param>& params,
                          const std::function<void(const Result&)>& row) {
    Result failure;
    if (!conn_) {
        failure.lost_message_ = "out of memory";
        return failure;
    }
    const Prepared p = prepare(sql, params);
    if (PQsendQueryParams(conn_.get(), p.sql.c_str(), static_cast<int>(p.values.size()), nullptr,
                          p.values.data(), nullptr, nullptr, 0) == 0 ||
        PQsetSingleRowMode(conn_.get()) == 0) {
        failure.lost_message_ = error();
        // Whatever was sent is read to its end: the connection is then ready for the next.
        while (PGresult* rest = PQgetResult(conn_.get())) PQclear(rest);
        return failure;
    }
    Result last;
    bool failed = false;
    while (PGresult* raw = PQgetResult(conn_.get())) {
        Result one(raw);
        if (PQresultStatus(raw) == PGRES_SINGLE_TUPLE) {
            if (!failed) row(one);
        } else if (!one.ok()) {
            failed = true;
            last = std::move(one);
        } else if (!failed) {
            last = std::move(one);  // the closing result, without rows
        }
    }
    if (!last.result_) last.lost_message_ = error();
    return last;
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
    begun_ = connection_.exec("BEGIN");
    open_ = begun_.ok();
}

Transaction::~Transaction() {
    if (open_ && connection_.ok()) (void)connection_.exec("ROLLBACK");
}

Result Transaction::commit() {
    open_ = false;
    return connection_.exec("COMMIT");
}

}  // namespace vrk::cli::pg
