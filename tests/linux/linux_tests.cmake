# The virtual pendant over FUSE and the Linux bus's tests against it.
