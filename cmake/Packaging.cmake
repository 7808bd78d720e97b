# Debian package (cpack -G DEB)
