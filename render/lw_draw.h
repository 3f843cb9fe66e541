// The lightwave look: draws one frame as LightWave defines ordinary content, from the
// surface records (object/lw_surface.h), the scene's lights, camera, backdrop and fog
// (scene/lw_info.h) and the pose (scene/lw_scene.h). Called by scene_render_frame when
// `RenderSettings::look` is `lightwave`; the engine look never comes here.
//
// Projection: tan(vfov / 2) = 1 / zoom, the horizontal field from width / height x pixel
// aspect; a real perspective matrix on GL_PROJECTION. Depth range rule: the far plane sits
// just beyond the farthest vertex drawn this frame (1.01 x its distance from the camera),
// the near plane at far / 4096 (at least 1e-4): a 24-bit depth buffer then resolves about
// far / 4e6 everywhere. LightWave's axes are left-handed; the view matrix mirrors Z into
// GL's right-handed eye space explicitly.
//
// Shading, per pixel (GLSL 1.20), per channel, clamped to 0..1, no gamma:
//   out = C lum + C dif (sum I_i max(0, N.L_i) + ambient) + specular sum I_i h_i max(0, R.V)^n
// with V from the shaded point toward the camera, R = L reflected about N, h_i the light
// colour, tinted toward C by colour highlights. Distant lights shine along their local +Z
// (position unused); point and spot lights from their world position. A spot is full for
// theta <= cone - edge, dark beyond the cone, and fades between with the Hermite
// smoothstep of cos theta (from cos cone to cos(cone - edge)). Falloff: linear max(0, 1 - d / range), inverse distance
// min(1, range / d), inverse square min(1, (range / d)^2). Single-sided surfaces show the
// side their polygon normal points to; double-sided ones are lit on both sides. Faceted
// surfaces are lit with their face normals (never unlit). Where the diffuse sum cannot vary
// over a triangle (a faceted surface without a highlight, under distant lights only) it is
// worked out per vertex, which gives the same picture for much less work on a software
// rasteriser; untextured and without fog, the whole colour is, and the triangle is drawn
// flat-shaded in it (llvmpipe then interpolates nothing).
//
// Texture projections per pixel from the object-space position (world space when the layer
// says world coordinates): planar, cylindrical and spherical with wrap counts, cubic (axis
// of the polygon normal's largest component), front (the screen) and UV, with the layer's
// centre, size, rotation and wrap modes. Where the atan2 longitude wraps, the coordinate
// whose screen derivative is smaller is sampled, so the mip level stays that of the
// neighbours (no seam column). Only the first colour image layer is drawn; other channels
// and procedural layers are not.
//
// Backdrop: BackdropColor, or the zenith / sky / ground / nadir gradient (drawn per pixel
// from the view direction's elevation, squeeze as the exponent). Fog: linear between the
// minimum and maximum distance and amount (other fog types drawn as linear, one log line).
// Transparency blends (after the opaque surfaces, without depth writes, every translucent
// triangle of the frame sorted farthest first by its centre's distance from the camera),
// additive where the surface says so; dissolve multiplies the opacity. Opaque objects are
// drawn nearest first (by their nearest vertex), so the depth test spares hidden pixels
// their shading.
//
// Programs: one per combination of the frame's lights (count, each one's type and falloff)
// and a surface's texture projection, axis, coordinate system, wrap modes, sides, highlight
// and the fog, with those as preprocessor constants; built when a frame first needs one and
// kept with their uniform locations for the context, beside one for the gradient backdrop
// and one for static images.
//
// Without shaders (entry points missing, or the program fails to compile or link: its info
// log is logged once per context) the same geometry is drawn with fixed-function lighting and the same
// matrices, with one log line, the colour image on the engine's texture coordinates. Neither
// is an error.
//
// Feed: every visible triangle goes into one vertex array per frame (world position and
// normal, object position and face normal, UV), grouped by object and surface; the arrays
// grow only when a larger scene comes along, so frames allocate nothing.
//
// Keyword objects: particles, metaform and "_PLOTS_" objects are drawn as their plain
// meshes; 2D-effect surfaces (plasma, sine dots, star field, video) show their effect
// texture with the engine's UVs; static images are drawn as the engine places them (the
// picture's quad at eye distance 1, filling the frame, unlit, first and depth tested).
//
// Sources: the LWOB and LWO2 object file documents (surface sub-chunks, texture blocks and
// the projection sample code of the LWO2 document), the LightWave SDK scene file pages
// (lights, camera, backdrop, fog) and the LightWave 5 and 6 manuals (lights panel, surface
// panel, texture mapping).
#pragma once

#include <string>

#include "render/frame_renderer.h"
#include "scene/scene.h"

namespace orvl {

// Draws the frame; the caller has evaluated objects, camera and lights for it.
void lw_draw_frame(Scene& scene, int clear_bits, const RenderSettings& settings);

// Whether the last frame drawn used the shader path (false: fixed-function fallback).
bool lw_draw_used_shaders();

}  // namespace orvl
