// Test-only LD_PRELOAD library: replaces the host's interface list returned by getifaddrs, so that
// tests can choose which hardware addresses a process sees, or make the call fail.
//
// IFADDRS_SHIM selects the list (unset or empty: the real getifaddrs/freeifaddrs):
//   fail:<errno>  getifaddrs returns -1 with errno set to the number, e.g. "fail:13"
//   empty         success with no interfaces at all
//   loopback      "lo" only: a packet entry with an all-zero 6-octet address and an IPv4 entry
//   list:<addrs>  the loopback entries, then per address (comma-separated, colon-separated hex
//                 octets, any length up to 8) an interface "ethN" with an entry that has no
//                 address, an IPv4 entry and then the packet entry, in the given order
// IFADDRS_SHIM_COUNTS: a file rewritten after every call as "getifaddrs=N freeifaddrs=M
//   foreign=K\n", where K counts freeifaddrs calls with a pointer that this library did not hand
//   out (or handed out and already saw released).
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#define MAX_OUTSTANDING 64

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static long get_calls = 0;
static long free_calls = 0;
static long foreign_frees = 0;
static struct ifaddrs *outstanding[MAX_OUTSTANDING];

// One allocation per entry, released entry by entry in freeifaddrs.
struct entry {
  struct ifaddrs item;
  union {
    struct sockaddr_ll link;
    struct sockaddr_in inet;
  } address;
  struct sockaddr_in netmask;
  char name[16];
};

static void write_counts_locked(void) {
  const char *path = getenv("IFADDRS_SHIM_COUNTS");
  if (path == NULL || *path == '\0') return;
  FILE *file = fopen(path, "w");
  if (file == NULL) return;
  fprintf(file, "getifaddrs=%ld freeifaddrs=%ld foreign=%ld\n", get_calls, free_calls, foreign_frees);
  fclose(file);
}

static struct entry *new_entry(const char *name) {
  struct entry *e = calloc(1, sizeof *e);
  if (e == NULL) return NULL;
  snprintf(e->name, sizeof e->name, "%s", name);
  e->item.ifa_name = e->name;
  return e;
}

static struct entry *packet_entry(const char *name, int ifindex, const unsigned char *octets, int length) {
  struct entry *e = new_entry(name);
  if (e == NULL) return NULL;
  e->address.link.sll_family = AF_PACKET;
  e->address.link.sll_ifindex = ifindex;
  e->address.link.sll_hatype = length == 6 ? ARPHRD_ETHER : ARPHRD_NONE;
  e->address.link.sll_halen = (unsigned char)length;
  memcpy(e->address.link.sll_addr, octets, (size_t)length);
  e->item.ifa_addr = (struct sockaddr *)&e->address.link;
  return e;
}

static struct entry *inet_entry(const char *name, const char *dotted) {
  struct entry *e = new_entry(name);
  if (e == NULL) return NULL;
  e->address.inet.sin_family = AF_INET;
  inet_pton(AF_INET, dotted, &e->address.inet.sin_addr);
  e->netmask.sin_family = AF_INET;
  inet_pton(AF_INET, "255.0.0.0", &e->netmask.sin_addr);
  e->item.ifa_addr = (struct sockaddr *)&e->address.inet;
  e->item.ifa_netmask = (struct sockaddr *)&e->netmask;
  return e;
}

static void release(struct ifaddrs *list) {
  while (list != NULL) {
    struct ifaddrs *next = list->ifa_next;
    free(list);  // ifa_addr etc. live inside the same allocation
    list = next;
  }
}

// Appends `e` behind *tail; returns 0, or -1 (after releasing `head`) if `e` is NULL.
static int append(struct ifaddrs **head, struct ifaddrs ***tail, struct entry *e) {
  if (e == NULL) {
    release(*head);
    *head = NULL;
    return -1;
  }
  **tail = &e->item;
  *tail = &e->item.ifa_next;
  return 0;
}

// Builds the list for `mode`; returns 0 or -1 with errno set.
static int build(const char *mode, struct ifaddrs **out) {
  struct ifaddrs *head = NULL;
  struct ifaddrs **tail = &head;
  if (strncmp(mode, "fail:", 5) == 0) {
    errno = atoi(mode + 5);
    return -1;
  }
  if (strcmp(mode, "empty") == 0) {
    *out = NULL;
    return 0;
  }
  int is_list = strncmp(mode, "list:", 5) == 0;
  if (!is_list && strcmp(mode, "loopback") != 0) {
    errno = EINVAL;
    return -1;
  }
  static const unsigned char zeros[6] = {0};
  if (append(&head, &tail, packet_entry("lo", 1, zeros, 6)) < 0) goto oom;
  if (append(&head, &tail, inet_entry("lo", "127.0.0.1")) < 0) goto oom;
  if (is_list) {
    const char *p = mode + 5;
    int index = 0;
    while (*p != '\0') {
      unsigned char octets[8];
      int length = 0;
      for (;;) {
        char *end = NULL;
        unsigned long octet = strtoul(p, &end, 16);
        if (end == p || octet > 0xFF || length == 8) {
          release(head);
          errno = EINVAL;
          return -1;
        }
        octets[length++] = (unsigned char)octet;
        p = end;
        if (*p != ':') break;
        ++p;
      }
      if (*p == ',') ++p;
      char name[16];
      snprintf(name, sizeof name, "eth%d", index);
      if (append(&head, &tail, new_entry(name)) < 0) goto oom;
      if (append(&head, &tail, inet_entry(name, "192.0.2.1")) < 0) goto oom;
      if (append(&head, &tail, packet_entry(name, index + 2, octets, length)) < 0) goto oom;
      ++index;
    }
  }
  *out = head;
  return 0;
oom:
  errno = ENOMEM;
  return -1;
}

int getifaddrs(struct ifaddrs **ifap) {
  const char *mode = getenv("IFADDRS_SHIM");
  if (mode == NULL || *mode == '\0') {
    int (*real)(struct ifaddrs **) = (int (*)(struct ifaddrs **))dlsym(RTLD_NEXT, "getifaddrs");
    return real(ifap);
  }
  int saved_errno;
  struct ifaddrs *list = NULL;
  int result = build(mode, &list);
  saved_errno = errno;
  pthread_mutex_lock(&lock);
  ++get_calls;
  if (result == 0) {
    *ifap = list;
    if (list != NULL) {
      for (int i = 0; i < MAX_OUTSTANDING; ++i) {
        if (outstanding[i] == NULL) {
          outstanding[i] = list;
          break;
        }
      }
    }
  }
  write_counts_locked();
  pthread_mutex_unlock(&lock);
  errno = saved_errno;
  return result;
}

void freeifaddrs(struct ifaddrs *ifa) {
  const char *mode = getenv("IFADDRS_SHIM");
  if (mode == NULL || *mode == '\0') {
    void (*real)(struct ifaddrs *) = (void (*)(struct ifaddrs *))dlsym(RTLD_NEXT, "freeifaddrs");
    real(ifa);
    return;
  }
  pthread_mutex_lock(&lock);
  ++free_calls;
  int ours = ifa == NULL;  // an empty list is handed out as NULL and may be released as such
  for (int i = 0; i < MAX_OUTSTANDING && ifa != NULL; ++i) {
    if (outstanding[i] == ifa) {
      outstanding[i] = NULL;
      ours = 1;
      break;
    }
  }
  if (!ours) ++foreign_frees;
  write_counts_locked();
  pthread_mutex_unlock(&lock);
  if (ours) release(ifa);
}
