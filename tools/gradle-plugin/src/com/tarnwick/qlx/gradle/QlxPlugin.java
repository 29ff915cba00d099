// Gradle plugin com.tarnwick.qlx: the qlx { } extension and the qlxWrap
// task, wired to the jar task's output and the runtime class path; the
// assemble task (and so build) makes the program.
package com.tarnwick.qlx.gradle;

import org.gradle.api.Plugin;
import org.gradle.api.Project;
import org.gradle.api.plugins.JavaPlugin;

public class QlxPlugin implements Plugin<Project> {
    @Override
    public void apply(final Project project) {
        final QlxExtension extension = project.getExtensions().create("qlx", QlxExtension.class, project);
        project.getPlugins().withType(JavaPlugin.class, java -> {
            // Every QlxWrap task, the plugin's own and any a build adds, is
            // wired to the jar task and takes its defaults from qlx { }.
            project.getTasks().withType(QlxWrap.class, task -> {
                task.useDefaults(extension, project.getTasks().getByName("jar"),
                        project.getConfigurations().getByName("runtimeClasspath"));
                task.dependsOn("jar");
            });
            QlxWrap task = project.getTasks().create("qlxWrap", QlxWrap.class);
            task.setGroup("build");
            task.setDescription("Wraps the application JAR into one program file with the qlx launcher.");
            project.getTasks().getByName("assemble").dependsOn(task);
        });
    }
}
