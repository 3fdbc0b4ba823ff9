// legacy_gl.h — the desktop GL the demo's portable code calls, on WebGL 1.
//
// What it is for: shell/, gpu/ and effects/ draw with the GL of their
// desktop builds: immediate-mode quads, the projection and modelview
// matrix stacks, fixed-function texturing for the credits, ARB shader
// objects and EXT framebuffer objects, all reached through GLEW. A browser
// offers WebGL 1 (OpenGL ES 2.0) only. In the browser build, <GL/glew.h>
// and <GL/glu.h> are this header: it declares WebGL's own calls and maps
// each desktop call the demo makes either to its WebGL twin (same
// arguments, same enum values) or to this layer (legacy_gl.cpp), which
// keeps the matrix stacks, turns quads into triangles on a vertex buffer,
// feeds the shaders the names of webgl_dialect.h, and draws fixed-function
// quads with a small program of its own (texture × colour, as GL_MODULATE).
// The shaders themselves arrive rewritten by the asset generator.
//
// How to use it: include <GL/glew.h> as on the desktop; call glewInit once
// a context is current. Only what the demo calls is here.
//
// How it fails: as a desktop driver would. glewInit reports the extensions
// WebGL 1 cannot serve (framebuffer blits and multisampled renderbuffers)
// as missing, and their calls only raise GL_INVALID_OPERATION; unknown
// hints and capabilities that WebGL would refuse are let pass; the rest is
// WebGL's own error state, read with glGetError.
#pragma once

#include <GLES2/gl2.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int GLhandleARB;
typedef char GLcharARB;
typedef double GLdouble;

// Desktop enums the demo names that WebGL 1 lacks (values as in glext.h).
#define GL_QUADS 0x0007
#define GL_MODELVIEW 0x1700
#define GL_PROJECTION 0x1701
#define GL_PERSPECTIVE_CORRECTION_HINT 0x0C50
#define GL_RGBA8 0x8058
#define GL_DEPTH_COMPONENT24 0x81A6
#define GL_SAMPLER_1D_ARB 0x8B5D
#define GL_SAMPLER_2D_RECT_SHADOW_ARB 0x8B64
#define GL_READ_FRAMEBUFFER_EXT 0x8CA8
#define GL_DRAW_FRAMEBUFFER_EXT 0x8CA9
#define GL_MAX_SAMPLES_EXT 0x8D57
// The ARB and EXT names of enums WebGL has under its own.
#define GL_TEXTURE0_ARB GL_TEXTURE0
#define GL_VERTEX_SHADER_ARB GL_VERTEX_SHADER
#define GL_FRAGMENT_SHADER_ARB GL_FRAGMENT_SHADER
#define GL_OBJECT_COMPILE_STATUS_ARB GL_COMPILE_STATUS
#define GL_OBJECT_LINK_STATUS_ARB GL_LINK_STATUS
#define GL_OBJECT_INFO_LOG_LENGTH_ARB GL_INFO_LOG_LENGTH
#define GL_OBJECT_ACTIVE_UNIFORMS_ARB GL_ACTIVE_UNIFORMS
#define GL_FRAMEBUFFER_EXT GL_FRAMEBUFFER
#define GL_RENDERBUFFER_EXT GL_RENDERBUFFER
#define GL_COLOR_ATTACHMENT0_EXT GL_COLOR_ATTACHMENT0
#define GL_DEPTH_ATTACHMENT_EXT GL_DEPTH_ATTACHMENT
#define GL_FRAMEBUFFER_COMPLETE_EXT GL_FRAMEBUFFER_COMPLETE
#define GL_MAX_RENDERBUFFER_SIZE_EXT GL_MAX_RENDERBUFFER_SIZE

// What glewInit found; the GLEW_ names below read them.
struct LegacyGlExtensions {
  GLboolean shaders;      // GLSL, shader objects, fragment shaders: WebGL's own
  GLboolean framebuffers; // framebuffer objects: WebGL's own
  GLboolean blit;         // blits and multisampled renderbuffers: not in WebGL 1
};
extern struct LegacyGlExtensions legacyGlExtensions;
GLenum legacyGlewInit(void);

void legacyBegin(GLenum mode);
void legacyEnd(void);
void legacyVertex2f(GLfloat x, GLfloat y);
void legacyTexCoord2f(GLfloat s, GLfloat t);
void legacyColor4ub(GLubyte red, GLubyte green, GLubyte blue, GLubyte alpha);
void legacyMatrixMode(GLenum mode);
void legacyPushMatrix(void);
void legacyPopMatrix(void);
void legacyLoadIdentity(void);
void legacyTranslatef(GLfloat x, GLfloat y, GLfloat z);
void legacyOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar);
void legacyPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
void legacyEnable(GLenum capability);
void legacyDisable(GLenum capability);
void legacyActiveTexture(GLenum unit);
void legacyHint(GLenum target, GLenum mode);
void legacyClearDepth(GLdouble depth);
void legacyTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                      GLenum format, GLenum type, const void* pixels);
void legacyGetIntegerv(GLenum name, GLint* value);
GLenum legacyGetError(void);
GLhandleARB legacyCreateProgramObject(void);
void legacyLinkProgram(GLhandleARB program);
void legacyUseProgramObject(GLhandleARB program);
void legacyDeleteObject(GLhandleARB object);
void legacyGetObjectParameteriv(GLhandleARB object, GLenum name, GLint* value);
void legacyGetInfoLog(GLhandleARB object, GLsizei size, GLsizei* length, GLcharARB* log);
void legacyBlitFramebuffer(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0, GLint dstY0, GLint dstX1,
                           GLint dstY1, GLbitfield mask, GLenum filter);
void legacyRenderbufferStorageMultisample(GLenum target, GLsizei samples, GLenum format, GLsizei width,
                                          GLsizei height);

#ifdef __cplusplus
}
#endif

// The layer itself calls WebGL by its own names.
#ifndef SORVANE_LEGACY_GL_LAYER
#define GLEW_OK 0
#define glewInit legacyGlewInit
#define GLEW_VERSION_2_0 (legacyGlExtensions.shaders)
#define GLEW_ARB_shading_language_100 (legacyGlExtensions.shaders)
#define GLEW_ARB_shader_objects (legacyGlExtensions.shaders)
#define GLEW_ARB_fragment_shader (legacyGlExtensions.shaders)
#define GLEW_EXT_framebuffer_object (legacyGlExtensions.framebuffers)
#define GLEW_EXT_framebuffer_blit (legacyGlExtensions.blit)
#define GLEW_EXT_framebuffer_multisample (legacyGlExtensions.blit)

#define glBegin legacyBegin
#define glEnd legacyEnd
#define glVertex2f legacyVertex2f
#define glTexCoord2f legacyTexCoord2f
#define glColor4ub legacyColor4ub
#define glMatrixMode legacyMatrixMode
#define glPushMatrix legacyPushMatrix
#define glPopMatrix legacyPopMatrix
#define glLoadIdentity legacyLoadIdentity
#define glTranslatef legacyTranslatef
#define glOrtho legacyOrtho
#define gluPerspective legacyPerspective
#define glEnable legacyEnable
#define glDisable legacyDisable
#define glHint legacyHint
#define glClearDepth legacyClearDepth
#define glTexImage2D legacyTexImage2D
#define glGetIntegerv legacyGetIntegerv
#define glGetError legacyGetError
#define glActiveTextureARB legacyActiveTexture

#define glCreateShaderObjectARB glCreateShader
#define glShaderSourceARB glShaderSource
#define glCompileShaderARB glCompileShader
#define glCreateProgramObjectARB legacyCreateProgramObject
#define glAttachObjectARB glAttachShader
#define glLinkProgramARB legacyLinkProgram
#define glValidateProgramARB glValidateProgram
#define glUseProgramObjectARB legacyUseProgramObject
#define glDeleteObjectARB legacyDeleteObject
#define glGetObjectParameterivARB legacyGetObjectParameteriv
#define glGetInfoLogARB legacyGetInfoLog
#define glGetActiveUniformARB glGetActiveUniform
#define glGetUniformLocationARB glGetUniformLocation
#define glGetUniformfvARB glGetUniformfv
#define glUniform1iARB glUniform1i
#define glUniform1fvARB glUniform1fv

#define glGenFramebuffersEXT glGenFramebuffers
#define glBindFramebufferEXT glBindFramebuffer
#define glDeleteFramebuffersEXT glDeleteFramebuffers
#define glFramebufferRenderbufferEXT glFramebufferRenderbuffer
#define glCheckFramebufferStatusEXT glCheckFramebufferStatus
#define glGenRenderbuffersEXT glGenRenderbuffers
#define glBindRenderbufferEXT glBindRenderbuffer
#define glDeleteRenderbuffersEXT glDeleteRenderbuffers
#define glRenderbufferStorageEXT glRenderbufferStorage
#define glRenderbufferStorageMultisampleEXT legacyRenderbufferStorageMultisample
#define glBlitFramebufferEXT legacyBlitFramebuffer
#endif
