// What the server remembers between requests: modes, the version body, the
// recorded requests and counts, the check-IP service's setting.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "server.h"

namespace refserver {

namespace {

// Keeps the in-memory record bounded on long runs; counts stay exact.
constexpr size_t kMaxRecordedBytes = 8 * 1024 * 1024;

}  // namespace

State g_state;

void State::init(const Config& cfg) {
    cfg_ = cfg;
    global_mode_ = cfg.global_mode;
    host_modes_ = cfg.host_modes;
    version_body_ = default_version_body();
}

std::string State::default_version_body() const { return "<html><body>VERSION:" + cfg_.version + " </body></html>"; }

const Account* State::account(const std::string& user) const {
    auto it = cfg_.accounts.find(user);
    return it == cfg_.accounts.end() ? nullptr : &it->second;
}

Mode State::mode_for_host(const std::string& host_lc) {
    std::lock_guard<std::mutex> l(m_);
    auto it = host_modes_.find(host_lc);
    return it != host_modes_.end() ? it->second : global_mode_;
}

Mode State::global_mode() {
    std::lock_guard<std::mutex> l(m_);
    return global_mode_;
}

void State::set_global_mode(Mode m) {
    std::lock_guard<std::mutex> l(m_);
    global_mode_ = m;
}

void State::set_host_mode(const std::string& host_lc, Mode m) {
    std::lock_guard<std::mutex> l(m_);
    host_modes_[host_lc] = m;
}

std::string State::version_body() {
    std::lock_guard<std::mutex> l(m_);
    return version_body_;
}

void State::set_version_body(std::string b) {
    std::lock_guard<std::mutex> l(m_);
    version_body_ = std::move(b);
}

ServiceMode State::service_mode(const std::string& host_lc) {
    std::lock_guard<std::mutex> g(m_);
    auto it = service_modes_.find(host_lc);
    return it == service_modes_.end() ? ServiceMode::Normal : it->second;
}

void State::set_service_mode(const std::string& host_lc, ServiceMode m) {
    std::lock_guard<std::mutex> g(m_);
    service_modes_[host_lc] = m;
}

void State::set_last_ip(const std::string& host_lc, const std::string& ip) {
    std::lock_guard<std::mutex> l(m_);
    last_ip_[host_lc] = ip;
}

std::string State::last_ip(const std::string& host_lc) {
    std::lock_guard<std::mutex> l(m_);
    auto it = last_ip_.find(host_lc);
    return it == last_ip_.end() ? "" : it->second;
}

void State::record(bool update, const std::string& host_lc, const std::string& raw) {
    std::lock_guard<std::mutex> l(m_);
    ++total_count_;
    if (update) ++update_count_[host_lc];
    if (recorded_bytes_ + raw.size() > kMaxRecordedBytes) {
        dropped_ = true;
        return;
    }
    recorded_bytes_ += raw.size();
    records_.push_back(Record{update, host_lc, raw});
}

std::string State::dump(const std::string* host_lc) {
    std::lock_guard<std::mutex> l(m_);
    std::string out;
    for (const Record& r : records_) {
        if (host_lc && (!r.update || r.host != *host_lc)) continue;
        out += "=== " + std::to_string(r.raw.size()) + " bytes\r\n";
        out += r.raw;
        out += "\r\n";
    }
    return out;
}

size_t State::count(const std::string* host_lc) {
    std::lock_guard<std::mutex> l(m_);
    if (!host_lc) return total_count_;
    auto it = update_count_.find(*host_lc);
    return it == update_count_.end() ? 0 : it->second;
}

void State::set_checkip(CheckIpMode m, const std::string& address) {
    std::lock_guard<std::mutex> l(m_);
    checkip_mode_ = m;
    checkip_address_ = address;
}

std::pair<CheckIpMode, std::string> State::checkip() {
    std::lock_guard<std::mutex> l(m_);
    return {checkip_mode_, checkip_address_};
}

void State::count_checkip() {
    std::lock_guard<std::mutex> l(m_);
    ++checkip_count_;
}

size_t State::checkip_count() {
    std::lock_guard<std::mutex> l(m_);
    return checkip_count_;
}

void State::clear() {
    std::lock_guard<std::mutex> l(m_);
    records_.clear();
    update_count_.clear();
    checkip_count_ = 0;
    total_count_ = 0;
    recorded_bytes_ = 0;
    dropped_ = false;
}

bool State::open_record_file(std::string& err) {
    if (cfg_.record_file.empty()) return true;
    record_fd_ = ::open(cfg_.record_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (record_fd_ < 0) {
        err = "cannot open record file '" + cfg_.record_file + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

void State::append_record_file(const std::string& raw) {
    if (record_fd_ < 0) return;
    std::string entry = "=== " + std::to_string(raw.size()) + " bytes from 127.0.0.1\n" + raw + "\n";
    std::lock_guard<std::mutex> l(file_m_);
    const char* p = entry.data();
    size_t left = entry.size();
    while (left > 0) {
        ssize_t n = ::write(record_fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace refserver
