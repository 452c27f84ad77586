/* A qemu-user TCG plug-in that counts the guest instructions a program executes, in all and
 * per loaded object (the program, each shared library), and writes the counts when the program
 * ends. Instruction counts, unlike times, are the same on every run of the same program with
 * the same input, whatever else the machine is doing.
 *
 *   qemu-mipsel -plugin ./libvelk_instruction_counter.so,out=FILE PROGRAM...
 *
 * Each process of the program appends to FILE, when it ends, "total N", then "object NAME N" for
 * every object that ran code; a program that forks leaves one such block per process, each
 * counting only that process's own instructions (a child starts again from zero), so the sum of
 * the blocks is what the whole program executed. A translation block never spans two objects,
 * so each block's instructions are added to its object's count as the block runs; the object is
 * found from where qemu mapped the block's code on the host. */
#include <qemu-plugin.h>

#include <fcntl.h>
#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

enum { kMaxObjects = 64 };

static uint64_t total;
static uint64_t counts[kMaxObjects];
static char names[kMaxObjects][256];
static int objects;
static const char* out_path;

/* The object whose mapping holds the host address: the mapped file's name, or "[anonymous]"
 * for code outside any file (none is expected). Read from the host's own map of the process,
 * which in user-mode emulation holds the guest's file mappings too. */
static int ObjectAt(uintptr_t address) {
  const char* name = "[anonymous]";
  char line[4096];
  FILE* maps = fopen("/proc/self/maps", "r");
  while (maps != NULL && fgets(line, sizeof(line), maps) != NULL) {
    uintptr_t start, end;
    int path = 0;
    if (sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %*s %*s %*s %*s %n", &start, &end, &path) < 2 ||
        address < start || address >= end) {
      continue;
    }
    line[strcspn(line, "\n")] = '\0';
    if (path > 0 && line[path] != '\0') name = strrchr(line + path, '/') ? strrchr(line + path, '/') + 1 : line + path;
    break;
  }
  if (maps != NULL) fclose(maps);
  for (int i = 0; i < objects; ++i) {
    if (strcmp(names[i], name) == 0) return i;
  }
  if (objects == kMaxObjects) return kMaxObjects - 1; /* the last one takes the rest */
  snprintf(names[objects], sizeof(names[objects]), "%s", name);
  return objects++;
}

static void OnTranslation(qemu_plugin_id_t id, struct qemu_plugin_tb* block) {
  (void)id;
  const size_t instructions = qemu_plugin_tb_n_insns(block);
  const int object = ObjectAt((uintptr_t)qemu_plugin_insn_haddr(qemu_plugin_tb_get_insn(block, 0)));
  qemu_plugin_register_vcpu_tb_exec_inline(block, QEMU_PLUGIN_INLINE_ADD_U64, &total, instructions);
  qemu_plugin_register_vcpu_tb_exec_inline(block, QEMU_PLUGIN_INLINE_ADD_U64, &counts[object],
                                           instructions);
}

/* qemu-user runs a guest's fork as a fork of its own process, which copies these counts: the
 * child's are its own from here on. */
static void OnForkInChild(void) {
  total = 0;
  memset(counts, 0, sizeof(counts));
}

/* One block, in one write to a file opened for appending, so that processes ending together
 * cannot interleave their lines. */
static void OnExit(qemu_plugin_id_t id, void* unused) {
  (void)id;
  (void)unused;
  char text[kMaxObjects * 300 + 32];
  size_t length = (size_t)snprintf(text, sizeof(text), "total %" PRIu64 "\n", total);
  for (int i = 0; i < objects && length < sizeof(text); ++i) {
    if (counts[i] > 0) {
      length += (size_t)snprintf(text + length, sizeof(text) - length, "object %s %" PRIu64 "\n",
                                 names[i], counts[i]);
    }
  }
  if (length >= sizeof(text)) length = sizeof(text) - 1;
  const int out = out_path != NULL ? open(out_path, O_WRONLY | O_APPEND | O_CREAT, 0644) : 2;
  if (out < 0 || write(out, text, length) != (ssize_t)length) {
    fprintf(stderr, "instruction counter: cannot write %s\n", out_path != NULL ? out_path : "stderr");
  }
  if (out > 2) close(out);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                           char** argv) {
  (void)info;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "out=", 4) == 0) out_path = argv[i] + 4;
  }
  pthread_atfork(NULL, NULL, OnForkInChild);
  qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslation);
  qemu_plugin_register_atexit_cb(id, OnExit, NULL);
  return 0;
}
