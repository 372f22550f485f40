#pragma once

#include "directory/embedded/attributes.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

namespace directory::embedded {

inline const QString kNoClass;

struct Node;

// A node's children in the order loaded, linked through the nodes
// themselves: a vector for each parent cost a large tree an allocation and
// its spare room apiece.
class Children {
public:
    class Iterator {
    public:
        explicit Iterator(Node *node) : m_node(node) {}
        Node *operator*() const { return m_node; }
        Iterator &operator++();
        bool operator==(const Iterator &) const = default;

    private:
        Node *m_node;
    };

    void push_back(Node *child);
    [[nodiscard]] Iterator begin() const { return Iterator(m_first); }
    [[nodiscard]] Iterator end() const { return Iterator(nullptr); }

private:
    Node *m_first = nullptr;
    Node *m_last = nullptr;
};

struct Node {
    Node *parent = nullptr;
    Node *nextSibling = nullptr;
    QByteArrayView dn; // as the file or the journal spells it
    QStringView name;  // the RDN's (first) value; what a full name carries
    const QString *rdnType = &kNoClass; // its attribute type
    const QString *className = &kNoClass;
    Attributes attributes;
    Children children;
    bool addressable = false;           // single-valued RDN whose value a full name can carry
    bool multiValuedRdn = false;
    bool sharesName = false; // a sibling has the same name under another attribute type
};

inline Children::Iterator &Children::Iterator::operator++()
{
    m_node = m_node->nextSibling;
    return *this;
}

inline void Children::push_back(Node *child)
{
    (m_last ? m_last->nextSibling : m_first) = child;
    m_last = child;
}

// The tree's nodes, allocated in blocks that grow with the tree: stable
// addresses at little cost.
class NodeStore {
public:
    Node &add()
    {
        if (m_blocks.empty() || m_used == m_blocks.back().size) {
            const size_t size = m_blocks.empty() ? 8 : std::min<size_t>(m_blocks.back().size * 2, 1024);
            m_blocks.push_back({std::make_unique<Node[]>(size), size});
            m_used = 0;
        }
        ++m_count;
        return m_blocks.back().nodes[m_used++];
    }
    Node &front() { return m_blocks.front().nodes[0]; }
    [[nodiscard]] size_t size() const { return m_count; }

    template <typename Visit>
    void forEach(Visit visit)
    {
        for (const Block &block : m_blocks) {
            const size_t used = &block == &m_blocks.back() ? m_used : block.size;
            for (size_t i = 0; i < used; ++i)
                visit(block.nodes[i]);
        }
    }

private:
    struct Block {
        std::unique_ptr<Node[]> nodes;
        size_t size;
    };
    std::vector<Block> m_blocks;
    size_t m_used = 0;
    size_t m_count = 0;
};

} // namespace directory::embedded
