// world_links.cpp: a program made of nothing but kelpmoor_world, linked whole, so that the
// linker holds the world to its layer: any call into GL, the servers or drawing fails here.
int main() { return 0; }
