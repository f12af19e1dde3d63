#include "bench.h"

#include <cstdio>
#include <iomanip>
#include <set>
#include <sstream>

namespace sim {

bench::bench(const bench_config &cfg, std::string dir, std::function<void(const std::string &)> print)
    : dir_(std::move(dir)), print_(std::move(print)), agents_(std::make_unique<bench_agents>(dir_)) {
  for (const auto &h : cfg.handsets) {
    std::string why;
    if (!agents_->add(h.handset.port, h.nand, why) && error_.empty()) error_ = why;
    for (const auto &f : h.nand_faults) agents_->inject(h.handset.port, f);
    handsets_.push_back(handset::create(h.handset, agents_->factory(h.handset.port), print_));
    plugged_at_start_.push_back(h.plugged);
  }
}

bench::~bench() {
  handsets_.clear();
  agents_.reset();
}

void bench::start() {
  for (size_t i = 0; i < handsets_.size(); ++i)
    if (plugged_at_start_[i]) handsets_[i]->plug();
}

void bench::shutdown() {
  for (auto &h : handsets_) h->unplug();
}

std::shared_ptr<handset> bench::find(const std::string &port) const {
  for (auto &h : handsets_)
    if (h->config().port == port) return h;
  return nullptr;
}

int bench::control(const std::string &command, std::string &answer) {
  std::istringstream in(command);
  std::string verb, port;
  in >> verb;
  if (verb == "list") {
    for (auto &h : handsets_) {
      if (!answer.empty()) answer += "\n";
      answer += h->status_json();
    }
    return 0;
  }
  static const std::set<std::string> verbs = {"plug",  "unplug",     "reset",      "fault",
                                              "read",  "read-stored", "nand-fault", "status-stored",
                                              "status"};
  if (!verb.empty() && !verbs.count(verb)) {
    answer = "unknown command \"" + verb + "\"";
    return -1;
  }
  in >> port;
  std::string rest;
  std::getline(in, rest);
  auto h = find(port);
  if (!h) {
    answer = verb.empty() ? "no command" : "unknown port \"" + port + "\"";
    return -1;
  }
  if (verb == "plug") {
    h->plug();
  } else if (verb == "unplug") {
    h->unplug();
    print_(port + ": unplugged by command");
  } else if (verb == "reset") {
    h->reset();
  } else if (verb == "fault") {
    fault_set f;
    std::string error;
    if (!parse_faults(rest, f, error)) {
      answer = error;
      return -1;
    }
    h->set_faults(f);
    print_(port + ": faults " + (f.describe().empty() ? "none" : f.describe()));
  } else if (verb == "read" || verb == "read-stored") {
    std::istringstream args(rest);
    unsigned long long start = 0, end = 0;
    std::string file;
    args >> std::setbase(0) >> start >> end >> file;
    std::string error;
    if (file.empty() || start > 0xFFFFFFFFull || end > 0xFFFFFFFFull) {
      answer = "usage: read PORT START END FILE";
      return -1;
    }
    if (!agents_->read(port, uint32_t(start), uint32_t(end), file, error, verb == "read-stored")) {
      answer = error;
      return -1;
    }
    answer = "read " + std::to_string(end - start) + " bytes to " + file;
    return 0;
  } else if (verb == "nand-fault" && rest.find_first_not_of(' ') != std::string::npos &&
             rest.substr(rest.find_first_not_of(' ')) == "none") {
    agents_->clear(port);
    print_(port + ": NAND faults none");
  } else if (verb == "nand-fault") {
    std::vector<nand_fault> faults;
    std::string error;
    if (!parse_nand_faults(rest, faults, error)) {
      answer = error;
      return -1;
    }
    for (auto &f : faults) agents_->inject(port, f);
    print_(port + ": NAND faults" + rest);
  } else if (verb == "status-stored") {
    answer = agents_->stored_status_json(port);
    return 0;
  } else if (verb != "status") {
    answer = "unknown command \"" + verb + "\"";
    return -1;
  }
  std::string s = h->status_json();
  answer = s.substr(0, s.size() - 1) + ",\"agent\":" + agents_->status_json(port) + "}";
  return 0;
}

}  // namespace sim
