// Where a parameter of this plugin is written in the POM, for messages:
// Maven keeps the line of every element of a plugin's configuration.
package com.tarnwick.qlx.maven;

import com.tarnwick.qlx.wrap.BuildRequest;
import java.io.File;
import org.apache.maven.model.Plugin;
import org.apache.maven.model.PluginExecution;
import org.apache.maven.plugin.MojoExecution;
import org.apache.maven.project.MavenProject;
import org.codehaus.plexus.util.xml.Xpp3Dom;

final class PomLocations implements BuildRequest.Origins {
    private final MavenProject project;
    private final MojoExecution execution;

    PomLocations(MavenProject project, MojoExecution execution) {
        this.project = project;
        this.execution = execution;
    }

    @Override
    public String of(String parameter) {
        Plugin plugin = project.getPlugin(execution.getMojoDescriptor().getPluginDescriptor().getPluginLookupKey());
        if (plugin == null) return null;
        Integer line = null;
        for (PluginExecution e : plugin.getExecutions()) {
            if (e.getId().equals(execution.getExecutionId())) line = lineOf(e.getConfiguration(), parameter);
        }
        if (line == null) line = lineOf(plugin.getConfiguration(), parameter);
        File pom = project.getFile();
        String where = pom != null ? pom.getName() : "pom.xml";
        return line == null ? null : where + " line " + line + ", <" + parameter + ">";
    }

    /** The line of the element, through the location Maven's model reader records for it. */
    private static Integer lineOf(Object configuration, String parameter) {
        if (!(configuration instanceof Xpp3Dom)) return null;
        Xpp3Dom child = ((Xpp3Dom) configuration).getChild(parameter);
        if (child == null) return null;
        try {
            Object location = Xpp3Dom.class.getMethod("getInputLocation").invoke(child);
            if (location == null) return null;
            Object n = location.getClass().getMethod("getLineNumber").invoke(location);
            return n instanceof Integer && (Integer) n > 0 ? (Integer) n : null;
        } catch (ReflectiveOperationException e) {
            return null;
        }
    }
}
