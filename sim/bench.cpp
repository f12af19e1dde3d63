#include "bench.h"

#include <cstdio>
#include <sstream>

namespace sim {

bench::bench(const bench_config &cfg, std::string dir, std::function<void(const std::string &)> print)
    : dir_(std::move(dir)), print_(std::move(print)) {
  auto factory = bench_agent_factory(dir_);
  for (const auto &h : cfg.handsets) {
    handsets_.push_back(handset::create(h.handset, factory, print_));
    plugged_at_start_.push_back(h.plugged);
  }
}

bench::~bench() { handsets_.clear(); }

void bench::start() {
  for (size_t i = 0; i < handsets_.size(); ++i)
    if (plugged_at_start_[i]) handsets_[i]->plug();
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
  } else if (verb != "status") {
    answer = "unknown command \"" + verb + "\"";
    return -1;
  }
  answer = h->status_json();
  return 0;
}

}  // namespace sim
