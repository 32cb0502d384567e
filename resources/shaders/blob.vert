#version 150 core
// The Blob canvas mesh: each vertex carries its position in -1..1 and the map texel of its
// mesh node.
in vec4 aPos;
out vec2 vTexCoord;

void main() {
    gl_Position = vec4(aPos.x, aPos.y, 1.0, 1.0);
    vTexCoord = aPos.zw;
}
