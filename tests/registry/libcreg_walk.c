/* The yardstick of the hive-load benchmark: libcreg's C library opening a
 * registry file and visiting every key and value, reading each name and
 * each value's type and data, as our loader does. */
#include <libcreg.h>
#include <stdint.h>
#include <stdlib.h>

#include "libcreg_walk.h"

static int walk(libcreg_key_t *key, struct creg_walk_counts *c) {
  int values = 0, subkeys = 0;
  uint8_t name[1024];
  if (libcreg_key_get_number_of_values(key, &values, NULL) != 1) return -1;
  for (int i = 0; i < values; ++i) {
    libcreg_value_t *v = NULL;
    size_t size = 0;
    uint32_t type = 0;
    if (libcreg_key_get_value_by_index(key, i, &v, NULL) != 1) return -1;
    if (libcreg_value_get_name_size(v, &size, NULL) == 1 && size <= sizeof name)
      libcreg_value_get_name(v, name, size, NULL);
    libcreg_value_get_value_type(v, &type, NULL);
    if (libcreg_value_get_value_data_size(v, &size, NULL) == 1 && size > 0) {
      uint8_t *data = malloc(size);
      if (data && libcreg_value_get_value_data(v, data, size, NULL) == 1) c->data_bytes += size;
      free(data);
    }
    c->values++;
    libcreg_value_free(&v, NULL);
  }
  if (libcreg_key_get_number_of_sub_keys(key, &subkeys, NULL) != 1) return -1;
  for (int i = 0; i < subkeys; ++i) {
    libcreg_key_t *sub = NULL;
    size_t size = 0;
    if (libcreg_key_get_sub_key_by_index(key, i, &sub, NULL) != 1) return -1;
    if (libcreg_key_get_name_size(sub, &size, NULL) == 1 && size <= sizeof name)
      libcreg_key_get_name(sub, name, size, NULL);
    c->keys++;
    int rc = walk(sub, c);
    libcreg_key_free(&sub, NULL);
    if (rc != 0) return rc;
  }
  return 0;
}

int creg_walk(const char *path, struct creg_walk_counts *counts) {
  libcreg_file_t *file = NULL;
  libcreg_key_t *root = NULL;
  int rc = -1;
  counts->keys = counts->values = counts->data_bytes = 0;
  if (libcreg_file_initialize(&file, NULL) != 1) return -1;
  if (libcreg_file_open(file, path, LIBCREG_OPEN_READ, NULL) == 1) {
    if (libcreg_file_get_root_key(file, &root, NULL) == 1) {
      rc = walk(root, counts);
      libcreg_key_free(&root, NULL);
    }
    libcreg_file_close(file, NULL);
  }
  libcreg_file_free(&file, NULL);
  return rc;
}
