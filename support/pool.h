// A doubly linked list whose nodes come from a pool per element type: the
// pool grows by blocks of 20 nodes and never gives memory back, so the game
// and tag lists that are built and dropped all the time cost no heap calls.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>

template <typename T>
struct PooledNode {
  T Element{};
  PooledNode* Next = nullptr;
  PooledNode* Previous = nullptr;
};

template <typename T>
class PooledList {
public:
  using Node = PooledNode<T>;
  static constexpr int BlockNodes = 20;

  PooledList() = default;
  // A copied header would share nodes with its original; use Copy.
  PooledList(const PooledList&) = delete;
  PooledList& operator=(const PooledList&) = delete;
  ~PooledList() { Clear(); }

  // A node from the type's free list, null when no memory is left.
  static Node* AllocNode() {
    std::lock_guard<std::mutex> guard(PoolLock);
    if (!FreeNodes) {
      Node* block = new (std::nothrow) Node[BlockNodes];
      if (!block) return nullptr;
      for (int i = 0; i < BlockNodes - 1; i++) block[i].Next = &block[i + 1];
      FreeNodes = block;
    }
    Node* node = FreeNodes;
    FreeNodes = node->Next;
    node->Next = nullptr;
    node->Previous = nullptr;
    return node;
  }

  // Gives a node that is in no list back to the type's free list.
  static void FreeNode(Node* node) {
    std::lock_guard<std::mutex> guard(PoolLock);
    node->Previous = nullptr;
    node->Next = FreeNodes;
    FreeNodes = node;
  }

  // Appends a copy of element; true when no node could be had. No node is
  // current afterwards.
  bool Append(const T& element) {
    Node* node = AllocNode();
    if (!node) return true;
    node->Element = element;
    node->Next = nullptr;
    node->Previous = Tail;
    if (Tail)
      Tail->Next = node;
    else
      Head = node;
    Tail = node;
    Count++;
    Current = nullptr;
    Index = 0;
    return false;
  }

  // Unlinks the current node; the following node becomes current. False
  // (and nothing changes) when there is no current node.
  bool RemoveCurrent() {
    Node* node = Current;
    if (!node) return false;
    if (node->Previous)
      node->Previous->Next = node->Next;
    else
      Head = node->Next;
    if (node->Next)
      node->Next->Previous = node->Previous;
    else
      Tail = node->Previous;
    Current = node->Next;
    if (!Current) Index = 0;
    Count--;
    FreeNode(node);
    return true;
  }

  void Clear() {
    Node* node = Head;
    while (node) {
      Node* next = node->Next;
      FreeNode(node);
      node = next;
    }
    Head = Tail = Current = nullptr;
    Index = 0;
    Count = 0;
  }

  // Makes this list a copy of other, the head current. An element whose node
  // cannot be had is left out.
  PooledList& Copy(const PooledList& other) {
    // Clearing first would empty the source of a copy onto itself.
    if (&other == this) return *this;
    Clear();
    for (const Node* node = other.Head; node; node = node->Next) Append(node->Element);
    Current = Head;
    Index = 0;
    return *this;
  }

  // Walks the list: First makes the head current, Next the following node;
  // both return the new current node (null past the end).
  Node* First() {
    Current = Head;
    Index = 0;
    return Current;
  }
  Node* Next() {
    if (!Current) return nullptr;
    Current = Current->Next;
    Index = Current ? Index + 1 : 0;
    return Current;
  }

  Node* Head = nullptr;
  Node* Tail = nullptr;
  Node* Current = nullptr;
  std::int32_t Index = 0;
  std::int32_t Count = 0;

private:
  // One free list and one lock per element type, for the whole process.
  static inline std::mutex PoolLock;
  static inline Node* FreeNodes = nullptr;
};
