#include "common/logger_cache.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/py_ref.hpp"

namespace tarnvale::py {

struct CacheNode {
    std::string segment;
    PyRef logger; // set when the node holds an entry
    log::Level max_enabled = log::Level::Off;
    std::vector<const CacheNode*> children;
};

namespace {

constexpr std::string_view kSeparator = "::";

// Splits a target into its segments without allocating: calls visit(segment)
// for each, stopping early when visit returns false.
template <class Visit> bool for_each_segment(std::string_view target, Visit&& visit) {
    while (true) {
        std::size_t end = target.find(kSeparator);
        if (!visit(target.substr(0, end))) return false;
        if (end == std::string_view::npos) return true;
        target.remove_prefix(end + kSeparator.size());
    }
}

const CacheNode* child_named(const CacheNode& node, std::string_view segment) {
    for (const CacheNode* child : node.children)
        if (child->segment == segment) return child;
    return nullptr;
}

const CacheNode* find_node(const CacheNode* root, std::string_view target) {
    const CacheNode* node = root;
    for_each_segment(target, [&](std::string_view segment) {
        node = node == nullptr ? nullptr : child_named(*node, segment);
        return node != nullptr;
    });
    return node;
}

// Builds the new nodes along the path to the target; everything off the path is
// shared with the current tree. New nodes are owned by `created` until published.
class PathCopy {
  public:
    explicit PathCopy(const CacheNode* root) : root_(root) {}

    const CacheNode* with_entry(std::string_view target, PyObject* logger, log::Level max_enabled) {
        CacheNode* node = copy_of(root_, "");
        CacheNode* root = node;
        for_each_segment(target, [&](std::string_view segment) {
            auto slot = std::find_if(node->children.begin(), node->children.end(),
                                     [&](const CacheNode* child) { return child->segment == segment; });
            CacheNode* child = copy_of(slot == node->children.end() ? nullptr : *slot, segment);
            if (slot == node->children.end())
                node->children.push_back(child);
            else
                *slot = child;
            node = child;
            return true;
        });
        node->logger = PyRef::borrow(logger);
        node->max_enabled = max_enabled;
        return root;
    }

    // After a successful swap the new nodes belong to the published tree.
    void publish() {
        for (auto& node : created_) (void)node.release();
    }

  private:
    CacheNode* copy_of(const CacheNode* original, std::string_view segment) {
        auto node = std::make_unique<CacheNode>();
        if (original != nullptr) {
            node->segment = original->segment;
            node->logger = PyRef::borrow(original->logger.get());
            node->max_enabled = original->max_enabled;
            node->children = original->children;
        } else {
            node->segment = segment;
        }
        created_.push_back(std::move(node));
        return created_.back().get();
    }

    const CacheNode* root_;
    std::vector<std::unique_ptr<CacheNode>> created_; // freed (with their references) unless published
};

} // namespace

std::optional<CachedLogger> LoggerCache::lookup(std::string_view target) const {
    const CacheNode* node = find_node(root_.load(std::memory_order_acquire), target);
    if (node == nullptr || !node->logger) return std::nullopt;
    return CachedLogger{node->logger.get(), node->max_enabled};
}

void LoggerCache::store(std::string_view target, PyObject* logger, log::Level max_enabled) {
    const CacheNode* current = root_.load(std::memory_order_acquire);
    const CacheNode* existing = find_node(current, target);
    if (existing != nullptr && existing->logger) return;
    PathCopy copy(current);
    const CacheNode* updated = copy.with_entry(target, logger, max_enabled);
    // The replaced tree is left allocated: a concurrent lookup may still walk it.
    if (root_.compare_exchange_strong(current, updated, std::memory_order_acq_rel)) copy.publish();
}

} // namespace tarnvale::py
