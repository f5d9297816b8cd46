// A FUSE file system for the tests: shows a directory read-only as it is, except that once the directory
// holds a file ".fail", a file named "unreadable.bin" fails with EIO when read beyond its first 64 KiB,
// as a damaged disc does. No read is answered from the page cache.
//   eio-fs SOURCE MOUNTPOINT [FUSE OPTIONS]   (runs in the foreground until it is unmounted or killed)
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char source[PATH_MAX];
enum { kFullMax = 2 * PATH_MAX };

static void fullPath(const char *path, char *out)
{
    snprintf(out, kFullMax, "%s%s", source, path);
}

static int fsGetattr(const char *path, struct stat *info, struct fuse_file_info *file)
{
    (void)file;
    char full[kFullMax];
    fullPath(path, full);
    return lstat(full, info) == 0 ? 0 : -errno;
}

static int fsReaddir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info *file, enum fuse_readdir_flags flags)
{
    (void)offset;
    (void)file;
    (void)flags;
    char full[kFullMax];
    fullPath(path, full);
    DIR *dir = opendir(full);
    if (!dir)
        return -errno;
    for (struct dirent *entry; (entry = readdir(dir));) {
        struct stat info = {0};
        info.st_ino = entry->d_ino;
        info.st_mode = (mode_t)(entry->d_type << 12);
        if (fill(buffer, entry->d_name, &info, 0, 0))
            break;
    }
    closedir(dir);
    return 0;
}

static int fsOpen(const char *path, struct fuse_file_info *file)
{
    char full[kFullMax];
    fullPath(path, full);
    const int fd = open(full, O_RDONLY);
    if (fd < 0)
        return -errno;
    file->fh = (uint64_t)fd;
    file->direct_io = 1;
    return 0;
}

static int fsRead(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *file)
{
    const char *name = strrchr(path, '/');
    char marker[kFullMax];
    fullPath("/.fail", marker);
    if (strcmp(name ? name + 1 : path, "unreadable.bin") == 0 && offset + (off_t)size > 65536 &&
        access(marker, F_OK) == 0)
        return -EIO;
    const ssize_t got = pread((int)file->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int fsRelease(const char *path, struct fuse_file_info *file)
{
    (void)path;
    close((int)file->fh);
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc < 3 || !realpath(argv[1], source)) {
        fprintf(stderr, "usage: eio-fs SOURCE MOUNTPOINT [FUSE OPTIONS]\n");
        return 2;
    }
    static const struct fuse_operations operations = {
        .getattr = fsGetattr, .open = fsOpen, .read = fsRead, .release = fsRelease, .readdir = fsReaddir};
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &operations, NULL);
}
