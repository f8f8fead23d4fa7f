#include "platform/linux/NftRules.h"

#include <linux/capability.h>
#include <nftables/libnftables.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace valdrune {
namespace {

using nlohmann::json;

enum class Tri { False, True, Unknown };

// What the judged datagram looks like to a match: a number and/or a word, or unknown.
struct Known {
    std::optional<long long> number;
    std::string word;
};

std::optional<Known> PacketValue(const json& left, const std::string& iifname) {
    if (!left.is_object()) return std::nullopt;
    if (left.contains("payload")) {
        const json& p = left["payload"];
        const std::string proto = p.value("protocol", "");
        const std::string field = p.value("field", "");
        if ((proto == "udp" || proto == "th") && field == "dport") return Known{10669, ""};
        if (proto == "ip" && field == "protocol") return Known{17, "udp"};
        // Headers a UDP-over-IPv4 datagram does not have: the match fails.
        if (proto == "tcp" || proto == "ip6" || proto == "icmp" || proto == "icmpv6" ||
            proto == "sctp" || proto == "dccp") {
            return Known{-1, "\x01"};
        }
        return std::nullopt;
    }
    if (left.contains("meta")) {
        const std::string key = left["meta"].value("key", "");
        if (key == "l4proto") return Known{17, "udp"};
        if (key == "iifname") return Known{std::nullopt, iifname};
        if (key == "nfproto") return Known{2, "ipv4"};
        if (key == "protocol") return Known{0x0800, "ip"};
        return std::nullopt;
    }
    if (left.contains("ct") && left["ct"].value("key", "") == "state")
        return Known{std::nullopt, "new"};
    return std::nullopt;
}

bool WordMatches(const std::string& pattern, const std::string& word) {
    // Interface names may end in a wildcard.
    if (!pattern.empty() && pattern.back() == '*') {
        return word.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == word;
}

// Whether one right-hand element covers the value; Unknown for forms not judged here.
Tri Covers(const json& right, const Known& v) {
    if (right.is_number_integer()) {
        return v.number && *v.number == right.get<long long>() ? Tri::True : Tri::False;
    }
    if (right.is_string()) {
        std::string s = right.get<std::string>();
        if (!s.empty() && s[0] == '@') return Tri::Unknown;  // a named set
        // Flags may come as "established,related".
        for (std::size_t start = 0; start <= s.size();) {
            std::size_t cut = s.find(',', start);
            if (cut == std::string::npos) cut = s.size();
            if (WordMatches(s.substr(start, cut - start), v.word)) return Tri::True;
            start = cut + 1;
        }
        return Tri::False;
    }
    if (right.is_array()) {
        Tri t = Tri::False;
        for (const auto& e : right) {
            const Tri c = Covers(e, v);
            if (c == Tri::True) return Tri::True;
            if (c == Tri::Unknown) t = Tri::Unknown;
        }
        return t;
    }
    if (right.is_object()) {
        if (right.contains("set")) return Covers(right["set"], v);
        if (right.contains("range") && right["range"].is_array() && right["range"].size() == 2 &&
            right["range"][0].is_number_integer() && right["range"][1].is_number_integer()) {
            if (!v.number) return Tri::False;
            return *v.number >= right["range"][0].get<long long>() &&
                           *v.number <= right["range"][1].get<long long>()
                       ? Tri::True
                       : Tri::False;
        }
    }
    return Tri::Unknown;
}

Tri Match(const json& m, const std::string& iifname) {
    const auto value = PacketValue(m.value("left", json()), iifname);
    if (!value) return Tri::Unknown;
    if (value->word == "\x01") return Tri::False;
    const std::string op = m.value("op", "==");
    const Tri c = Covers(m.value("right", json()), *value);
    if (op == "==" || op == "in") return c;
    if (op == "!=") return c == Tri::Unknown ? c : (c == Tri::True ? Tri::False : Tri::True);
    return Tri::Unknown;
}

std::string Words(const json& j) {
    if (j.is_string()) return j.get<std::string>();
    if (j.is_number()) return j.dump();
    if (j.is_array()) {
        std::string s;
        for (const auto& e : j) s += (s.empty() ? "" : ", ") + Words(e);
        return "{ " + s + " }";
    }
    if (j.is_object()) {
        if (j.contains("payload"))
            return j["payload"].value("protocol", "?") + " " + j["payload"].value("field", "?");
        if (j.contains("meta")) return "meta " + j["meta"].value("key", "?");
        if (j.contains("ct")) return "ct " + j["ct"].value("key", "?");
        if (j.contains("set")) return Words(j["set"]);
        if (j.contains("range") && j["range"].is_array() && j["range"].size() == 2)
            return Words(j["range"][0]) + "-" + Words(j["range"][1]);
        if (j.contains("prefix"))
            return Words(j["prefix"].value("addr", json())) + "/" +
                   Words(j["prefix"].value("len", json()));
    }
    return "...";
}

// A rule in nft's own spelling, close enough for a person to find it.
std::string RuleText(const json& exprs) {
    std::string s;
    for (const auto& e : exprs) {
        if (!e.is_object() || e.empty()) continue;
        const std::string key = e.begin().key();
        std::string part;
        if (key == "match") {
            const std::string op = e[key].value("op", "==");
            part = Words(e[key].value("left", json())) +
                   (op == "==" || op == "in" ? " " : " " + op + " ") +
                   Words(e[key].value("right", json()));
        } else if (key == "jump" || key == "goto") {
            part = key + " " + e[key].value("target", "?");
        } else {
            part = key;
        }
        s += (s.empty() ? "" : " ") + part;
    }
    return s;
}

struct Rule {
    json exprs;
    long long handle = -1;
};

struct Chain {
    std::string family, table, name, hook, type, policy;
    int prio = 0;
    bool base = false;
    std::vector<Rule> rules;
};

enum class End { Continue, Accept, Drop };

struct Walk {
    const std::map<std::string, Chain>& chains;
    const std::string& iifname;
    const Chain* dropChain = nullptr;
    const Rule* dropRule = nullptr;
    bool doubtful = false;  // an earlier rule may have ended the walk
    const Chain* maybeChain = nullptr;
    const Rule* maybeRule = nullptr;

    void NoteMaybe(const Chain& c, const Rule& r) {
        if (!maybeRule) {
            maybeChain = &c;
            maybeRule = &r;
        }
    }

    End Run(const Chain& c, int depth) {
        if (depth > 16) return End::Continue;  // loops are refused by nft; be safe anyway
        for (const auto& rule : c.rules) {
            Tri m = Tri::True;
            for (const auto& e : rule.exprs) {
                if (!e.is_object() || e.empty()) continue;
                const std::string key = e.begin().key();
                if (key == "match") {
                    const Tri t = Match(e[key], iifname);
                    if (t == Tri::False)
                        m = Tri::False;
                    else if (t == Tri::Unknown && m == Tri::True)
                        m = Tri::Unknown;
                    if (m == Tri::False) break;
                } else if (key == "counter" || key == "log" || key == "comment" ||
                           key == "notrack" || key == "mangle") {
                    // no say in the verdict
                } else if (key == "accept") {
                    if (m == Tri::True) return End::Accept;
                    doubtful = true;
                    break;
                } else if (key == "drop" || key == "reject") {
                    if (m == Tri::True && !doubtful) {
                        dropChain = &c;
                        dropRule = &rule;
                        return End::Drop;
                    }
                    NoteMaybe(c, rule);
                    break;
                } else if (key == "jump" || key == "goto") {
                    auto it =
                        chains.find(c.family + " " + c.table + " " + e[key].value("target", ""));
                    if (it == chains.end()) break;
                    const bool before = doubtful;
                    if (m == Tri::Unknown) doubtful = true;
                    const End end = Run(it->second, depth + 1);
                    if (end != End::Continue) return end;
                    doubtful = before || m == Tri::Unknown;
                    if (key == "goto" && m == Tri::True) return End::Continue;
                    break;
                } else if (key == "return") {
                    if (m == Tri::True) return End::Continue;
                    doubtful = true;
                    break;
                } else {
                    // limit, quota, xt and the like decide in ways not judged here
                    if (m == Tri::True) m = Tri::Unknown;
                }
            }
        }
        return End::Continue;
    }
};

std::string Place(const Chain& c, const Rule* r) {
    std::string s = c.family + " " + c.table + " " + c.name;
    if (r && r->handle >= 0) s += " handle " + std::to_string(r->handle);
    return s;
}

std::string FixFor(const Chain& base, const std::string& iifname) {
    return "nft insert rule " + base.family + " " + base.table + " " + base.name + " iifname \"" +
           iifname + "\" udp dport 10669 accept";
}

bool EffectiveNetAdmin() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        unsigned long long caps = 0;
        if (std::sscanf(line.c_str(), "CapEff: %llx", &caps) == 1) {
            return (caps >> CAP_NET_ADMIN) & 1u;
        }
    }
    return false;
}

}  // namespace

RuleJudgement JudgeNftRuleset(std::string_view text, const std::string& iifname) {
    RuleJudgement out;
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("nftables") ||
        !doc["nftables"].is_array()) {
        return out;
    }
    std::map<std::string, Chain> chains;
    for (const auto& item : doc["nftables"]) {
        if (!item.is_object()) continue;
        if (item.contains("chain") && item["chain"].is_object()) {
            const json& c = item["chain"];
            Chain chain;
            chain.family = c.value("family", "");
            chain.table = c.value("table", "");
            chain.name = c.value("name", "");
            chain.hook = c.value("hook", "");
            chain.type = c.value("type", "");
            chain.policy = c.value("policy", "accept");
            chain.prio =
                c.contains("prio") && c["prio"].is_number_integer() ? c["prio"].get<int>() : 0;
            chain.base = !chain.hook.empty();
            chains[chain.family + " " + chain.table + " " + chain.name] = std::move(chain);
        } else if (item.contains("rule") && item["rule"].is_object()) {
            const json& r = item["rule"];
            auto it = chains.find(r.value("family", "") + " " + r.value("table", "") + " " +
                                  r.value("chain", ""));
            if (it == chains.end() || !r.contains("expr") || !r["expr"].is_array()) continue;
            Rule rule;
            rule.exprs = r["expr"];
            if (r.contains("handle") && r["handle"].is_number_integer())
                rule.handle = r["handle"].get<long long>();
            it->second.rules.push_back(std::move(rule));
        }
    }
    std::vector<const Chain*> bases;
    for (const auto& [key, c] : chains) {
        if (c.base && (c.family == "ip" || c.family == "inet") && c.type == "filter" &&
            (c.hook == "input" || c.hook == "prerouting")) {
            bases.push_back(&c);
        }
    }
    // Every base chain on the path must let the datagram through; earlier hooks first.
    std::stable_sort(bases.begin(), bases.end(), [](const Chain* a, const Chain* b) {
        if (a->hook != b->hook) return a->hook == "prerouting";
        return a->prio < b->prio;
    });
    out.outcome = RuleOutcome::Admits;
    for (const Chain* base : bases) {
        Walk walk{chains, iifname};
        End end = walk.Run(*base, 0);
        if (end == End::Continue && base->policy == "drop") {
            if (walk.doubtful) {
                if (out.outcome == RuleOutcome::Admits) {
                    out.outcome = RuleOutcome::MayDrop;
                    out.ruleText = "policy drop";
                    out.place = Place(*base, nullptr);
                    out.fixCommand = FixFor(*base, iifname);
                }
                continue;
            }
            out.outcome = RuleOutcome::Drops;
            out.ruleText = "policy drop";
            out.place = Place(*base, nullptr);
            out.fixCommand = FixFor(*base, iifname);
            return out;
        }
        if (end == End::Drop) {
            out.outcome = RuleOutcome::Drops;
            out.ruleText = RuleText(walk.dropRule->exprs);
            out.place = Place(*walk.dropChain, walk.dropRule);
            out.fixCommand = FixFor(*base, iifname);
            return out;
        }
        if (walk.maybeRule && end != End::Accept && out.outcome == RuleOutcome::Admits) {
            out.outcome = RuleOutcome::MayDrop;
            out.ruleText = RuleText(walk.maybeRule->exprs);
            out.place = Place(*walk.maybeChain, walk.maybeRule);
            out.fixCommand = FixFor(*base, iifname);
        }
    }
    return out;
}

bool ReadNftRuleset(std::string& text, std::string& error) {
    // Without the right libnftables writes its complaint straight to standard error.
    if (!EffectiveNetAdmin()) {
        error = "listing them needs root";
        return false;
    }
    nft_ctx* ctx = nft_ctx_new(NFT_CTX_DEFAULT);
    if (!ctx) {
        error = "libnftables could not start";
        return false;
    }
    nft_ctx_output_set_flags(ctx, NFT_CTX_OUTPUT_JSON | NFT_CTX_OUTPUT_HANDLE);
    nft_ctx_buffer_output(ctx);
    nft_ctx_buffer_error(ctx);
    const int rc = nft_run_cmd_from_buffer(ctx, "list ruleset");
    const char* out = nft_ctx_get_output_buffer(ctx);
    const char* err = nft_ctx_get_error_buffer(ctx);
    text = out ? out : "";
    error = err ? err : "";
    while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
    nft_ctx_free(ctx);
    if (rc != 0 && error.empty()) error = "the rules cannot be listed";
    // An empty ruleset lists as nothing at all.
    if (rc == 0 && text.find_first_not_of(" \n") == std::string::npos) text = R"({"nftables":[]})";
    return rc == 0;
}

}  // namespace valdrune
