#include "net/buffer.h"

#include <climits>
#include <cstring>
#include <new>

OVKBuffer::OVKBuffer() : data_(new char[512]), length_(0), capacity_(512) {}

OVKBuffer::~OVKBuffer() { delete[] data_; }

void OVKBuffer::Reserve(int needed) {
  if (needed <= capacity_) return;
  long cap = capacity_;
  while (cap < needed) cap *= 2;
  // Doubling past the int range cannot be represented; treat it as what it
  // is, an allocation we will not make.
  if (cap > INT_MAX) throw std::bad_alloc();
  char *grown = new char[cap];
  if (length_ > 0) memcpy(grown, data_, length_);
  delete[] data_;
  data_ = grown;
  capacity_ = static_cast<int>(cap);
}

void OVKBuffer::AddData(const char *data, int count) {
  if (count <= 0) return;
  if (count > INT_MAX - length_) throw std::bad_alloc();
  Reserve(length_ + count);
  memcpy(data_ + length_, data, count);
  length_ += count;
}

void OVKBuffer::AddChar(char c) { AddData(&c, 1); }

void OVKBuffer::AddString(const char *s) {
  if (s == nullptr) return;
  size_t n = strlen(s);
  if (n > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  AddData(s, static_cast<int>(n));
}

int OVKBuffer::GetData(char *dest, int n) {
  if (length_ == 0 || n <= 0) return 0;
  int count = length_ > n ? n : length_;
  memcpy(dest, data_, count);
  DropData(count);
  return count;
}

void OVKBuffer::DropData(int n) {
  if (n <= 0) return;
  if (n >= length_) {
    length_ = 0;
    return;
  }
  memmove(data_, data_ + n, length_ - n);
  length_ -= n;
}

void OVKBuffer::Erase() { length_ = 0; }

int OVKBuffer::FindLineFeed() const {
  const void *p = memchr(data_, '\n', length_);
  return p == nullptr ? -1
                      : static_cast<int>(static_cast<const char *>(p) - data_);
}

bool OVKBuffer::ReadLine(OVKBuffer &dest) {
  int lf = FindLineFeed();
  if (lf < 0) return false;
  dest.Erase();
  dest.AddData(data_, lf + 1);
  dest.data_[lf] = 0;
  if (lf > 0 && dest.data_[lf - 1] == '\r') dest.data_[lf - 1] = 0;
  DropData(lf + 1);
  return true;
}
