// OVKBuffer: the growable byte queue of sessions and HTTP bodies.  Starts at
// 512 bytes, doubles when more room is needed, never shrinks.  Bytes are
// appended at the end and consumed from the front.
#ifndef HOVANTRA_NET_BUFFER_H
#define HOVANTRA_NET_BUFFER_H

#include <cstddef>

class OVKBuffer {
 public:
  OVKBuffer();
  ~OVKBuffer();
  OVKBuffer(const OVKBuffer &) = delete;
  OVKBuffer &operator=(const OVKBuffer &) = delete;

  void AddData(const char *data, int count);
  void AddChar(char c);
  void AddString(const char *s);  // nothing for nullptr
  // Copies up to n bytes from the front into dest and removes them.
  int GetData(char *dest, int n);
  void DropData(int n);  // removes n bytes from the front
  void Erase();          // length 0, capacity kept
  // When a line feed is queued: moves the line into dest (which is emptied
  // first), replacing the line feed, and a carriage return right before it,
  // by a terminating zero; true.  False and no change otherwise.
  bool ReadLine(OVKBuffer &dest);
  // Position of the first line feed, or -1.
  int FindLineFeed() const;

  const char *GetBuffer() const { return data_; }
  int Length() const { return length_; }
  int Capacity() const { return capacity_; }

 private:
  void Reserve(int needed);
  char *data_;
  int length_;
  int capacity_;
};

#endif
