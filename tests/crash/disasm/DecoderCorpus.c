/* Code of the kinds compilers emit, for comparing the decoder with objdump.
   Only its machine code matters; it is never run. */
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

struct Record {
  int id;
  short flags;
  char name[40];
  double weight;
  int64_t total;
};

volatile int sink;

int arithmetic(int a, int b, unsigned c) {
  int r = a * 7 + b / 3 - (int)(c % 5);
  r ^= a << (b & 7);
  r |= (int)(c >> 3);
  r += a < b ? a : b;
  r -= (a > 0) + (b == 3) + (c != 9);
  return r * (b | 1) / (a | 1);
}

int64_t wide(int64_t a, int64_t b, uint64_t c) {
  return a * b + (int64_t)(c / 10) - (a % (b | 1)) + (int64_t)(c << 13) + (a >> 7);
}

double floating(double x, float y, int n) {
  double r = x * y + n;
  r = r / (x + 1.5) - (double)y * 0.25;
  if (r < x) r = -r;
  int truncated = (int)r;
  long long big = (long long)(r * 1000.0);
  return r + truncated + (double)big + (float)(x * 2.0f);
}

int compare_doubles(double a, double b) { return (a < b) - (a > b) + (a == b) * 2; }

unsigned bits(unsigned x, unsigned y) {
  unsigned r = __builtin_bswap32(x) ^ (x >> 31);
  r += (x & (1u << (y & 31))) != 0;
  r += (unsigned)__builtin_clz(x | 1) + (unsigned)__builtin_ctz(y | 2);
  return r + ((x << 5) | (x >> 27));
}

int select_case(int k, const char* text) {
  switch (k) {
    case 0: return text[0];
    case 1: return text[1] * 3;
    case 2: return (int)strlen(text);
    case 3: return -k;
    case 4: return text[2] ^ 0x55;
    case 5: return k * k;
    case 6: return text[k];
    default: return 0;
  }
}

void records(struct Record* out, const struct Record* in, int count) {
  for (int i = 0; i < count; ++i) {
    out[i] = in[i];
    out[i].total += in[i].id;
    out[i].weight *= 1.25;
    out[i].flags = (short)(in[i].flags | 0x80);
    memset(out[i].name, 0, sizeof out[i].name);
  }
}

int sum_bytes(const unsigned char* p, unsigned n) {
  int s = 0;
  for (unsigned i = 0; i < n; ++i) s += (signed char)p[i] + p[i] * 2;
  return s;
}

int variadic(int count, ...) {
  va_list list;
  va_start(list, count);
  int total = 0;
  for (int i = 0; i < count; ++i) total += va_arg(list, int);
  va_end(list);
  return total;
}

int atomics(int* counter, int value) {
  int old = __sync_fetch_and_add(counter, value);
  __sync_bool_compare_and_swap(counter, old, value);
  __sync_synchronize();
  return __sync_lock_test_and_set(counter, 3) + old;
}

void floats_vector(float* a, const float* b, int n) {
  for (int i = 0; i < n; ++i) a[i] = a[i] * b[i] + 2.0f;
}

void ints_vector(int* a, const int* b, int n) {
  for (int i = 0; i < n; ++i) a[i] = a[i] + b[i] * 3;
}

uint16_t shorts(uint16_t a, int8_t b) { return (uint16_t)(a * b + (a >> 2)); }

unsigned char conditions(int a, int b) {
  return (unsigned char)((a < b) | ((a <= b) << 1) | ((unsigned)a < (unsigned)b) << 2);
}

int recursive(int n) { return n <= 1 ? 1 : n * recursive(n - 1) + recursive(n - 2); }

void* big_frame(int n) {
  char buffer[5000];
  memset(buffer, n, sizeof buffer);
  sink = buffer[n & 1023];
  return 0;
}
