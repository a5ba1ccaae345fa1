#!/usr/bin/env python3
# A FUSE file system that passes every call on to a folder, built with
# libfuse 2 like exfat-fuse and most user-space file systems: it knows no
# renameat2 flags (RENAME_NOREPLACE is refused with EINVAL) and no hard links.
# Usage: fuse-without-links.py FOLDER MOUNTPOINT [SECONDS [BYTES]] (stays in
# the foreground). SECONDS, when given, is how long each write waits first: a
# slow USB stick or network share, where a copy takes a while. BYTES, when
# given, is where every file ends: a write past it fails with EIO, as a stick
# pulled out does.
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class WithoutLinks(Operations):
    use_ns = True
    link = None  # libfuse answers ENOSYS, as where the file system has none

    def __init__(self, root, write_delay=0.0, fail_after=None):
        self.root = root
        self.write_delay = write_delay
        self.fail_after = fail_after

    def init(self, path):
        # Whoever started it waits for this line: the mount is there now.
        print('mounted', flush=True)

    def _path(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def __call__(self, op, *args):
        try:
            return super().__call__(op, *args)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO)

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        attrs = {key: getattr(st, key) for key in
                 ('st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_size', 'st_ino')}
        for key in ('st_atime', 'st_mtime', 'st_ctime'):
            attrs[key] = getattr(st, key + '_ns')
        return attrs

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._path(path))

    def symlink(self, target, source):
        os.symlink(source, self._path(target))

    def rename(self, old, new):
        os.rename(self._path(old), self._path(new))

    def utimens(self, path, times=None):
        os.utime(self._path(path), ns=times)

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        return {key: getattr(st, key) for key in
                ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail', 'f_ffree', 'f_files', 'f_flag',
                 'f_frsize', 'f_namemax')}

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        if self.write_delay:
            time.sleep(self.write_delay)
        if self.fail_after is not None and offset + len(data) > self.fail_after:
            raise FuseOSError(errno.EIO)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


# Calls that take a path and nothing else of ours pass on to the folder's
# own file as they are.
for _name in ('chmod', 'chown', 'mkdir', 'readlink', 'rmdir', 'unlink'):
    setattr(WithoutLinks, _name, lambda self, path, *args, _call=getattr(os, _name): _call(self._path(path), *args))

if __name__ == '__main__':
    delay = float(sys.argv[3]) if len(sys.argv) > 3 else 0.0
    fail_after = int(sys.argv[4]) if len(sys.argv) > 4 else None
    FUSE(WithoutLinks(os.path.realpath(sys.argv[1]), delay, fail_after), sys.argv[2], foreground=True,
         nothreads=True)
